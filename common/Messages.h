#pragma once

#include <string>

namespace tandrel {

// Every message the program shows goes through one sink, so that tests and the
// command-line joiner can see caption, text and icon and answer without a window.
enum class MsgIcon { None, Information, Warning, Error, Question };
enum class MsgButtons { Ok, YesNoCancel };
enum class MsgAnswer { Ok, Yes, No, Cancel };

// Caption of plain message dialogs that have no caption of their own.
inline constexpr const char *kAppTitle = "Borvik Tandrel";

class MessageSink {
public:
    virtual ~MessageSink() = default;
    // Texts are UTF-8. Blocks until answered.
    virtual MsgAnswer Show(const std::string &caption, const std::string &text, MsgIcon icon,
                           MsgButtons buttons) = 0;
};

// The sink in use; by default messages go to standard error and are answered with OK/Cancel.
MessageSink &Messages();
// Installs a sink (nullptr restores the default); returns the previous one.
MessageSink *SetMessages(MessageSink *sink);

// Shorthand for the common case: an OK box.
inline void ShowMessage(const std::string &caption, const std::string &text,
                        MsgIcon icon = MsgIcon::None) {
    Messages().Show(caption, text, icon, MsgButtons::Ok);
}

} // namespace tandrel
