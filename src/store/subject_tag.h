// The one test of "this letter is for us": does a letter's subject carry this side's tag?
// Retrieval and processing (the session's and the mailbox window's) judge letters by it.
#pragma once

#include <string>

namespace tzn {

// "TZN-" + code, upper-cased like the rest of the module's text comparisons, found anywhere
// in the subject and not followed by a letter or digit: station 12 takes "tzn-12" and
// "TZN-12/3" but not "TZN-123", which belongs to station 123 in a shared mailbox.
bool SubjectCarriesTag(const std::string& subject, const std::string& stationCode);

} // namespace tzn
