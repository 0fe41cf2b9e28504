#include "host/main_window.h"

#include "platform/cp1251.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QScreen>

namespace tzn {
namespace {

QString Caption(const TMenuNode& node) {
    return QString::fromStdString(Utf8FromCp1251(node.GetCaption()));
}

// The nodes are owned by the host's menu model, which outlives the window.
void AddItems(QMenu* menu, const TMenuNode& node) {
    for (int i = 0; i < node.Count(); ++i) {
        TMenuNode* child = node.Child(i);
        if (child->GetCaption() == "-")
            menu->addSeparator();
        else if (child->Count() > 0)
            AddItems(menu->addMenu(Caption(*child)), *child);
        else
            QObject::connect(menu->addAction(Caption(*child)), &QAction::triggered,
                             [child] { child->Click(); });
    }
}

} // namespace

THostMainWindow::THostMainWindow(const TMenuNode& menu, const QString& title) {
    setWindowTitle(title);
    QMenu* file = menuBar()->addMenu(QString::fromUtf8("&Файл"));
    QObject::connect(file->addAction(QString::fromUtf8("Выход")), &QAction::triggered, this,
                     &QWidget::close);
    for (int i = 0; i < menu.Count(); ++i) {
        TMenuNode* top = menu.Child(i);
        if (top->Count() > 0)
            AddItems(menuBar()->addMenu(Caption(*top)), *top);
        else
            QObject::connect(menuBar()->addAction(Caption(*top)), &QAction::triggered,
                             [top] { top->Click(); });
    }
    auto* label = new QLabel(title, this);
    label->setAlignment(Qt::AlignCenter);
    label->setStyleSheet("font-size: 18pt;");
    setCentralWidget(label);
    resize(640, 400);
}

bool THostMainWindow::SaveScreenshot(const QString& file) {
    QPixmap shot;
    // Offscreen there is no screen content to read back; the window then draws itself.
    if (QGuiApplication::platformName() != "offscreen")
        if (QScreen* s = screen())
            shot = s->grabWindow(winId());
    if (shot.isNull())
        shot = grab();
    return !shot.isNull() && shot.save(file, "PNG");
}

void THostMainWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    QApplication::quit();
}

} // namespace tzn
