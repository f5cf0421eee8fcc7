#pragma once

#include "encoders/WmaWriter.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

// Writes 16-bit PCM as a WMA file through the writer library "wmaudsdk.so", loaded at run
// time. Every message goes to tandrel::ShowMessage with the caption "WMA Audio SDK".
//
// Order of use: construct, Open, Write any number of times, Close, delete.
// A missing library or entry point is reported by the constructor; Open then returns -1
// silently. Write and Close report refusals (write errors included) by false, without a message.
class WavToWma {
public:
    // Loads the library from the program's folders (see AppFolders), then by its bare name.
    WavToWma();
    // Loads the library from libraryFolder, then by its bare name.
    explicit WavToWma(const std::string &libraryFolder);
    ~WavToWma();
    WavToWma(const WavToWma &) = delete;
    WavToWma &operator=(const WavToWma &) = delete;

    // FileName in UTF-8; Bitrate in bits per second. Returns the bytes one Write call should
    // carry (16384), or -1.
    int Open(const std::string &FileName, int SampleRate, int Channels, unsigned Bitrate);
    // Samples: interleaved signed 16-bit PCM. False when the writer refused the data.
    bool Write(const void *Samples, unsigned ByteCount);
    // Finishes the file and releases the writer; true also when there is no writer.
    bool Close();
    // The writer's status of the last failure (0 when none); see wmaudsdk::ErrnoFromHResult.
    wmaudsdk::HRESULT LastError() const { return Status; }
    // Where Open tells that the file cannot be created or written (with the errno), instead of
    // its own message.
    void SetFileErrorHandler(std::function<void(int)> handler) { OnFileError = std::move(handler); }
    // The name messages give the output when FileName is not one a user knows ("pipe:4").
    void SetShownName(const std::string &name) { ShownName = name; }
    // What the header of the files Open starts carries besides the audio: attributes by
    // their Windows Media names ("Title", "Author", "WM/AlbumTitle", ...) with their values,
    // and markers (name, seconds from the start) in order of time; all in UTF-8. A writer
    // library without these writes its files without them; one it refuses is left out.
    void SetAttributes(std::vector<std::pair<std::string, std::string>> attributes) {
        Attributes = std::move(attributes);
    }
    void SetMarkers(std::vector<std::pair<std::string, double>> markers) {
        Markers = std::move(markers);
    }

private:
    void Load(void *library);
    void Drop();
    void DescribeHeader();

    void *Library = nullptr;
    wmaudsdk::WMAudioCreateWriterFn CreateWriter = nullptr;
    wmaudsdk::IWMAudioWriter *Writer = nullptr;
    wmaudsdk::HRESULT Status = 0;
    std::string ShownName;
    std::function<void(int)> OnFileError;
    std::vector<std::pair<std::string, std::string>> Attributes;
    std::vector<std::pair<std::string, double>> Markers;
};
