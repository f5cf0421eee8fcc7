#pragma once

#include <initializer_list>
#include <string>

namespace tandrel {

// Every text of the program's error and warning boxes. The language files hold them in the
// [Errors] section under the key MsgKey gives; a file without one shows the English text, so
// older and hand-made files keep working. "%1", "%2", ... stand for what a message names: a
// path, the system's reason, a number.
enum class Msg {
    ErrorCaption,
    WaveErrorCaption,
    LameCaption,
    WmaCaption,
    // Reading a wave file when it is added.
    CannotOpenFile,
    NotValidWave,
    Wave24Or32Bit,
    NotPcmFormats,
    // The encoders.
    MissingLibraryFunction,
    LameNotLoaded,
    LameNotInitialized,
    LameCompressionFailed,
    CannotCreateFile,
    CannotWriteFile,
    WmaNotLoaded,
    WmaWriterFailed,
    WmaInputFormatFailed,
    WmaOutputFormatFailed,
    // The join.
    CannotCreateOutput,
    CouldNotOpen,
    CouldNotOpenFile,
    CouldNotRead,
    CouldNotWrite,
    CannotCreateTemp,
    CannotJoin,
    InputNotValidWave,
    InputCompressedWave,
    InputEndedEarly,
    InputChanged,
    FormatOneChannel,
    FormatChannels,
    InputNotDecodable,
    InputIsFolder,
    InputNotRegular,
    InputIsEmpty,
    InputIsAKind,
    InputIsAnKind,
    TooManyChannels,
    BitsNotConvertible,
    RateNotConvertible,
    ChannelsNotConvertible,
    EncodedTwoChannels,
    EncodedBits,
    ConverterNotStarted,
    ResamplingFailed,
    NoEncoders,
    // Backups of an output file.
    BackupKept,
    BackupLeft,
    BackupNotRestored,
    BackupRestored,
    // Keeping the MP3 files' frames.
    FramesNotKept,
    FramesNotMp3,
    FramesRate,
    FramesChannels,
    FramesTooShort,
    FramesSeamFailed,
    // The window.
    NoPlayingDevice,
    SettingsNotWritable,
    Count
};

inline constexpr const char *kMessagesSection = "Errors";

// The key of a text in the language files, and its English text.
const char *MsgKey(Msg id);
const char *MsgEnglish(Msg id);

// The text in the language set by SetMessageLanguage, else in English, with "%1".."%9"
// replaced by args (what args hold is not looked at again).
std::string MsgText(Msg id, std::initializer_list<std::string> args = {});
// Lines joined by "\n": a message's text, then the file it names, then the system's reason.
std::string MsgLines(Msg id, const std::string &path, const std::string &reason);

// Messages follow the language file at path from now on (the window sets it whenever it loads
// a language); empty: English. May be called while another thread shows a message.
void SetMessageLanguage(const std::string &path);

// "%1".."%9" in text replaced by args; a placeholder without an argument is left as it is.
std::string FillPlaceholders(const std::string &text, std::initializer_list<std::string> args);

} // namespace tandrel
