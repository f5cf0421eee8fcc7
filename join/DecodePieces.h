#pragma once

// The pool's pieces, shared by its workers (DecodePool.cpp) and the join (DecodePoolRead.cpp).
#include "audio/Decoder.h"
#include "join/DecodePool.h"
#include "join/JoinDecoded.h"
#include "join/Mp3Pieces.h"

namespace tandrel {

// An MP3 input decoded in ranges.
struct DecodePool::Source {
    std::size_t index = 0;
    // Opened as the join would: decodes the first range, then counts the others' audio.
    std::unique_ptr<Decoder> master;
    Mp3Pieces plan;
    std::uint64_t length = 0; // the length the decoder told at open, exact or estimated
    bool exact = false;
    std::int64_t skip = 0; // the delay trimmed at the start
    std::size_t frameBytes = 0;
    bool dropped = false; // the join left it: no more ranges
};

struct DecodePool::Piece {
    std::size_t input = 0;
    std::size_t number = 0; // the range's; 0 for an input's first piece
    std::shared_ptr<Source> source;
    // Guarded by the pool's mutex.
    bool planned = false; // the first piece knows what its input is (ranged, end)
    bool done = false;
    bool cancelled = false;
    DecodedEnd end; // of opening, or of a streamed input
    bool ranged = false;
    // A range: its PCM, and its decoder, kept for the losses it counted.
    std::unique_ptr<Decoder> decoder;
    std::vector<std::uint8_t> pcm;
    std::size_t size = 0;
    bool failed = false;
    // A streamed input: a ring of blocks, count of them given from head on.
    struct Slot {
        std::size_t bytes = 0;
        int percent = 0;
    };
    std::vector<std::uint8_t> ring;
    std::vector<Slot> slots;
    std::size_t blockBytes = 0, head = 0, count = 0;
};

} // namespace tandrel
