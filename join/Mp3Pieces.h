#pragma once

#include "audio/Decoder.h"

#include <cstdint>
#include <vector>

namespace tandrel {

// An MP3 file's frames cut into pieces that decode on their own (Decoder::OpenMp3Range) and,
// one after the other, give what decoding the whole file gives.
struct Mp3Pieces {
    int samplesPerFrame = 0;
    std::int64_t frames = 0; // in the file
    // Each piece's range; the first one starts with the first frame and needs no lead-in.
    std::vector<Mp3Range> ranges;
};

// Frames per piece for a rate: about a megabyte of 16-bit stereo PCM.
int Mp3PieceFrames(int sampleRate);

// Walks the frame headers from first to end of fd (no decoding) and plans pieces of
// framesPerPiece frames. Each piece's decoding begins early enough that the main data of its
// first frame and of the two before it lies in the frames decoded, plus one frame more.
// Nothing (decode the file whole) when the file holds a single piece, has bytes between its
// frames, changes channel count or rate, ends inside a frame or cannot be read to its end.
Mp3Pieces PlanMp3Pieces(int fd, std::uint64_t first, std::uint64_t end, int framesPerPiece);

} // namespace tandrel
