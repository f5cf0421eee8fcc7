#include "lang/MessageTexts.h"

#include <memory>
#include <mutex>

#include "lang/Language.h"

namespace tandrel {
namespace {

struct Entry {
    Msg id;
    const char *key;
    const char *english;
};

// In the order of Msg.
constexpr Entry kEntries[] = {
    {Msg::ErrorCaption, "Caption", "Error"},
    {Msg::WaveErrorCaption, "WaveCaption", "ERROR"},
    {Msg::LameCaption, "LameCaption", "Lame Encoder"},
    {Msg::WmaCaption, "WmaCaption", "WMA Audio SDK"},
    {Msg::CannotOpenFile, "CannotOpenFile", "Cannot open the file!"},
    {Msg::NotValidWave, "NotValidWave", "This is not a valid Wave file."},
    {Msg::Wave24Or32Bit, "Wave24Or32Bit", "Can not support 24bit or 32bit Wave file."},
    {Msg::NotPcmFormats, "NotPcmFormats", "Not PCM formats!"},
    {Msg::MissingLibraryFunction, "MissingFunction", "Could not found %1 library function"},
    {Msg::LameNotLoaded, "LameNotLoaded", "Could not load lame_enc.dll file"},
    {Msg::LameNotInitialized, "LameNotInitialized", "Could not initialize Lame encoder"},
    {Msg::LameCompressionFailed, "LameCompression", "Could not perform compression"},
    {Msg::CannotCreateFile, "CannotCreateFile", "Can not create the file."},
    {Msg::CannotWriteFile, "CannotWriteFile", "Could not write the file."},
    {Msg::WmaNotLoaded, "WmaNotLoaded", "Could not load wmaudsdk.dll file"},
    {Msg::WmaWriterFailed, "WmaWriter", "Failed to Create Audio Writer"},
    {Msg::WmaInputFormatFailed, "WmaInputFormat", "Failed to Set Input Format"},
    {Msg::WmaOutputFormatFailed, "WmaOutputFormat", "Failed to Set Output Format"},
    {Msg::CannotCreateOutput, "CannotCreateOutput", "Cannot creat the output file."},
    {Msg::CouldNotOpen, "CouldNotOpen", "Could not open '%1': %2"},
    {Msg::CouldNotOpenFile, "CouldNotOpenFile", "Could not open '%1'"},
    {Msg::CouldNotRead, "CouldNotRead", "Could not read '%1': %2"},
    {Msg::CouldNotWrite, "CouldNotWrite", "Could not write '%1': %2"},
    {Msg::CannotCreateTemp, "CannotCreateTemp", "Could not create a temporary file in '%1': %2"},
    {Msg::CannotJoin, "CannotJoin", "Can not join '%1': %2"},
    {Msg::InputNotValidWave, "InputNotValidWave", "it is not a valid Wave file"},
    {Msg::InputCompressedWave, "InputCompressedWave", "it is a compressed Wave file"},
    {Msg::InputEndedEarly, "InputEndedEarly",
     "it ended after %1 of the %2 bytes of audio it held when it was added (%3 of %4 seconds)"},
    {Msg::InputChanged, "InputChanged",
     "it has changed since it was added (now %1; the list says %2)"},
    {Msg::FormatOneChannel, "FormatOneChannel", "%1 Hz, %2 channel, %3 bits"},
    {Msg::FormatChannels, "FormatChannels", "%1 Hz, %2 channels, %3 bits"},
    {Msg::InputNotDecodable, "InputNotDecodable", "it cannot be decoded"},
    {Msg::InputIsFolder, "InputIsFolder", "it is a folder"},
    {Msg::InputNotRegular, "InputNotRegular", "it is not a regular file"},
    {Msg::InputIsEmpty, "InputIsEmpty", "it is empty"},
    {Msg::InputIsAKind, "InputIsAKind", "it is a %1 file"},
    {Msg::InputIsAnKind, "InputIsAnKind", "it is an %1 file"},
    {Msg::TooManyChannels, "TooManyChannels",
     "a file of more than two channels can only be joined with files of its own format"},
    {Msg::BitsNotConvertible, "BitsNotConvertible", "%1 bits per sample cannot be converted to %2"},
    {Msg::RateNotConvertible, "RateNotConvertible", "%1 Hz cannot be converted to %2 Hz"},
    {Msg::ChannelsNotConvertible, "ChannelsNotConvertible",
     "%1 channels cannot be converted to %2"},
    {Msg::EncodedTwoChannels, "EncodedTwoChannels", "%1 output takes at most two channels"},
    {Msg::EncodedBits, "EncodedBits", "%1 output cannot be made from %2 bits per sample"},
    {Msg::ConverterNotStarted, "ConverterNotStarted", "the rate converter could not start"},
    {Msg::ResamplingFailed, "ResamplingFailed", "Could not convert the sample rate."},
    {Msg::NoEncoders, "NoEncoders", "This program was built without encoders."},
    {Msg::BackupKept, "BackupKept", "The output file's old contents are kept in its backup."},
    {Msg::BackupLeft, "BackupLeft",
     "An interrupted join left a backup of the output file's old contents."},
    {Msg::BackupNotRestored, "BackupNotRestored",
     "Cannot restore the output file from the backup an interrupted join left."},
    {Msg::BackupRestored, "BackupRestored",
     "The output file's old contents were restored from the backup an interrupted join left."},
    {Msg::FramesNotKept, "FramesNotKept",
     "The MP3 files' frames can not be kept, so they are re-encoded: %1"},
    {Msg::FramesNotMp3, "FramesNotMp3", "'%1' is not an MP3 file"},
    {Msg::FramesRate, "FramesRate", "'%1' is at %2 Hz and '%3' at %4 Hz"},
    {Msg::FramesChannels, "FramesChannels", "'%1' has %2 channels and '%3' %4"},
    {Msg::FramesTooShort, "FramesTooShort",
     "'%1' is too short to keep its frames (less than %2 seconds)"},
    {Msg::FramesSeamFailed, "FramesSeamFailed",
     "the frames of '%1' and '%2' could not be joined without re-encoding"},
    {Msg::NoPlayingDevice, "NoPlayingDevice", "Cannot start default playing device!"},
    {Msg::SettingsNotWritable, "SettingsNotWritable", "Unable to write to %1"},
};
static_assert(std::size(kEntries) == std::size_t(Msg::Count));

constexpr bool InOrder() {
    for (std::size_t i = 0; i < std::size(kEntries); ++i)
        if (kEntries[i].id != Msg(i))
            return false;
    return true;
}
static_assert(InOrder(), "kEntries follows the order of Msg");

std::mutex g_languageMutex;
std::shared_ptr<const LanguageFile> g_language;

std::shared_ptr<const LanguageFile> CurrentLanguage() {
    std::lock_guard<std::mutex> lock(g_languageMutex);
    return g_language;
}

} // namespace

const char *MsgKey(Msg id) {
    return kEntries[std::size_t(id)].key;
}

const char *MsgEnglish(Msg id) {
    return kEntries[std::size_t(id)].english;
}

void SetMessageLanguage(const std::string &path) {
    auto file = path.empty() ? nullptr : std::make_shared<const LanguageFile>(path);
    std::lock_guard<std::mutex> lock(g_languageMutex);
    g_language = std::move(file);
}

std::string FillPlaceholders(const std::string &text, std::initializer_list<std::string> args) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::size_t n = i + 1 < text.size() ? std::size_t(text[i + 1] - '1') : args.size();
        if (text[i] == '%' && n < args.size() && n < 9) {
            out += args.begin()[n];
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string MsgText(Msg id, std::initializer_list<std::string> args) {
    std::string text;
    if (const auto language = CurrentLanguage())
        text = language->ReadString(kMessagesSection, MsgKey(id), "");
    return FillPlaceholders(text.empty() ? MsgEnglish(id) : text, args);
}

std::string MsgLines(Msg id, const std::string &path, const std::string &reason) {
    return MsgText(id) + "\n" + path + "\n" + reason;
}

} // namespace tandrel
