#include "host/main_window.h"

#include "platform/cp1251.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>

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
    QObject::connect(file->addAction(QString::fromUtf8("Выход")), &QAction::triggered, qApp,
                     &QApplication::quit);
    for (int i = 0; i < menu.Count(); ++i) {
        TMenuNode* top = menu.Child(i);
        if (top->Count() > 0)
            AddItems(menuBar()->addMenu(Caption(*top)), *top);
        else
            QObject::connect(menuBar()->addAction(Caption(*top)), &QAction::triggered,
                             [top] { top->Click(); });
    }
    setCentralWidget(new QLabel(title, this));
    resize(640, 400);
}

} // namespace tzn
