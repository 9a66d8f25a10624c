// Linked into every fuzz target: the targets run a great many refused inputs,
// and the libraries' messages about each (standard error by default) would
// only slow the run and flood its log, so they are dropped.
#include "tree/messages.h"

namespace {
struct DropMessages {
    DropMessages() { vessik::setMessageSink(nullptr); }
} g_dropMessages;
} // namespace
