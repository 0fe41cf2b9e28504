// The session's retrieval judges subjects by the store's rule, the one letter processing uses.
#pragma once

#include "store/subject_tag.h"
