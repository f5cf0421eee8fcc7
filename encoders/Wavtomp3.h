#pragma once

#include "encoders/BladeEnc.h"
#include "lang/MessageTexts.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Writes 16-bit PCM as an MP3 file through the encoder library "lame_enc.so", loaded at run
// time. Every message goes to tandrel::ShowMessage with the caption "Lame Encoder".
//
// Order of use: construct, Open, Encode any number of times, Close, delete.
// Failures:
//  - constructor: a missing library or entry point is reported; Open then returns -1 silently.
//  - Open: -1 after "Could not initialize Lame encoder" or "Can not create the file.".
//  - Encode: -1 after "Could not perform compression", or after "Could not write the file."
//    when the output file refuses the data (shown once per object).
//  The two file messages name the file and give the system's reason on the lines below.
//  - Close: false when the last frames could not be produced or written, or the file could not
//    be closed completely; the file is closed in every case.
class WavToMp3 {
public:
    // Loads the library from the program's folders (see AppFolders), then by its bare name.
    WavToMp3();
    // Loads the library from libraryFolder, then by its bare name.
    explicit WavToMp3(const std::string &libraryFolder);
    ~WavToMp3();
    WavToMp3(const WavToMp3 &) = delete;
    WavToMp3 &operator=(const WavToMp3 &) = delete;

    // Mode: 1 stereo, 2 joint stereo, 3 dual channel, 4 mono. Bitrate in kbps, snapped to a
    // standard value. Returns the bytes one Encode call takes, or -1.
    int Open(const std::string &FileName, int SampleRate, int Mode, unsigned Bitrate,
             bool Copyright, bool Crc, bool Original, bool Private);
    // The same into a duplicate of the open descriptor Fd; FileName names it in messages.
    int Open(int Fd, const std::string &FileName, int SampleRate, int Mode, unsigned Bitrate,
             bool Copyright, bool Crc, bool Original, bool Private);
    // Samples: interleaved signed 16-bit PCM. Returns the MP3 bytes written by this call, or -1.
    int Encode(const void *Samples, int ByteCount);
    // Flushes the encoder and closes the file. Returns false when the file is incomplete.
    bool Close();

    // True once a write to the output file has failed.
    bool WriteFailed() const { return WriteError; }

    // The library's entry points when all of them were found, else null.
    const bladeenc::Api *Entries() const;
    // The stream settings Open hands to the library.
    static bladeenc::BE_CONFIG MakeConfig(int SampleRate, int Mode, unsigned Bitrate,
                                          bool Copyright, bool Crc, bool Original, bool Private);
    // The same settings in the library's LAME form, with an encoding quality from 0 (best) to
    // 9 (fastest).
    static bladeenc::BE_CONFIG WithQuality(const bladeenc::BE_CONFIG &plain, int quality);

    static unsigned SnapBitrate(unsigned kbps);
    // The library's mode for 1..4; anything else is taken as stereo.
    static std::uint8_t LibraryMode(int mode);

private:
    void Load(void *library);
    bool WriteOut(std::uint32_t bytes);
    void FileError(tandrel::Msg text, int err);

    void *Library = nullptr;
    bladeenc::Api Lib;
    bladeenc::HBE_STREAM Stream = 0;
    bool StreamOpen = false;
    std::uint32_t Written = 0;
    std::FILE *OutputFile = nullptr;
    std::string OutputName;
    std::vector<std::uint8_t> OutputBuffer;
    int ChunkBytes = 0;
    bool WriteError = false;
};
