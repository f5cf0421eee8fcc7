#include "common/Messages.h"

#include <cstdio>

namespace tandrel {
namespace {

class StderrSink : public MessageSink {
public:
    MsgAnswer Show(const std::string &caption, const std::string &text, MsgIcon,
                   MsgButtons buttons) override {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
        return buttons == MsgButtons::Ok ? MsgAnswer::Ok : MsgAnswer::Cancel;
    }
};

StderrSink g_stderrSink;
MessageSink *g_sink = nullptr;

} // namespace

MessageSink &Messages() {
    return g_sink ? *g_sink : g_stderrSink;
}

MessageSink *SetMessages(MessageSink *sink) {
    MessageSink *old = g_sink;
    g_sink = sink;
    return old;
}

} // namespace tandrel
