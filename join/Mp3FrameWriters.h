#pragma once

#include "encoders/Mp3Bitstream.h"
#include "encoders/Mp3OutputFile.h"
#include "join/QueuedWriter.h"

#include <cstddef>
#include <cstdint>

// Where the frame-keeping MP3 join writes its frames.
namespace tandrel {

class CountingWriter : public FrameWriter {
public:
    bool Write(const std::uint8_t *data, std::size_t count) override {
        crc = mp3::Crc16Arc(crc, data, count);
        bytes += count;
        return true;
    }
    bool CopyFrom(int, std::uint64_t, std::uint64_t count, std::uint16_t crcOfThem) override {
        crc = mp3::Crc16ArcCombine(crc, crcOfThem, count);
        bytes += count;
        return true;
    }
    std::uint16_t crc = 0;
    std::uint64_t bytes = 0;
};

class FileWriter : public FrameWriter {
public:
    explicit FileWriter(mp3::OutputFile &file) : file_(file) {}
    bool Write(const std::uint8_t *data, std::size_t count) override {
        return file_.Write(data, count);
    }
    bool CopyFrom(int fd, std::uint64_t offset, std::uint64_t count, std::uint16_t crc) override {
        return file_.CopyFrom(fd, offset, count, crc);
    }

private:
    mp3::OutputFile &file_;
};

} // namespace tandrel
