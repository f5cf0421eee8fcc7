#pragma once

#include "join/JoinInputs.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace tandrel {

class Decoder;

// One input as the pool sees it: WAV inputs are left to the join.
struct PoolInput {
    const JoinInput *input = nullptr;
    InputReader reader = InputReader::None;
    std::size_t blockBytes = 0; // the join's blocks for it
};

// Decodes a join's compressed inputs ahead of it on worker threads. The work is cut into
// pieces taken strictly in list order: a range of an MP3 file's frames, decoded into memory,
// or a whole input of another kind, streamed through a few blocks. At most a few pieces are
// held at once. Read gives the join each input as ReadDecodedInput would: the same bytes in
// the same blocks, the same progress and the same messages, shown when the join reaches it.
class DecodePool {
public:
    DecodePool(std::vector<PoolInput> inputs, unsigned workers);
    ~DecodePool();
    DecodePool(const DecodePool &) = delete;
    DecodePool &operator=(const DecodePool &) = delete;

    // Workers for a thread count (0: one per core); 1 means no pool.
    static unsigned WorkersFor(unsigned threads);
    // Input index's audio, as ReadDecodedInput gives it through reader; buffer holds the
    // input's blockBytes. Read on the join's thread when the pool did not take it that way.
    InputResult Read(std::size_t index, InputReader reader, std::uint8_t *buffer,
                     InputBlocks &blocks);

    struct Piece;
    struct Source;

private:
    using PiecePtr = std::shared_ptr<Piece>;
    void Work();
    PiecePtr Take();
    bool HasWork() const;
    void StartInput(Piece &piece, std::vector<std::uint8_t> &block);
    void DecodeRange(Piece &piece);
    void StreamInput(Piece &piece, Decoder &decoder, std::vector<std::uint8_t> &block);
    void Finish(Piece &piece, bool failed);
    std::vector<std::uint8_t> TakeSpare();

    PiecePtr WaitPiece(std::size_t index, std::size_t number, bool planned);
    void PopFront();
    void Drop(std::size_t index);
    InputResult ReadStreamed(Piece &piece, const JoinInput &input, InputBlocks &blocks);
    bool FillFromRanges(PiecePtr &piece, std::size_t &offset, std::uint8_t *buffer,
                        std::size_t want, std::size_t &filled);
    InputResult ReadRanges(const PiecePtr &first, std::uint8_t *buffer, InputBlocks &blocks);

    std::vector<PoolInput> inputs_;
    std::vector<std::size_t> order_; // the inputs the pool decodes
    std::size_t maxPieces_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<PiecePtr> pieces_;    // taken, not yet read, in list order
    std::size_t nextInput_ = 0;      // in order_: the next input to start
    std::shared_ptr<Source> ranged_; // the input whose ranges are being handed out
    std::size_t nextRange_ = 0;
    bool planning_ = false; // a worker is opening the next input
    std::atomic<bool> closing_{false};
    std::vector<std::vector<std::uint8_t>> spare_; // ranges' buffers to use again
    static constexpr std::size_t kSpareBuffers = 2;
    std::vector<std::thread> threads_;
};

// The pool for a join's inputs (their blocks as the join reads them) and its thread count
// (0: one per core); null when one thread is asked for or every input is a WAV file.
std::unique_ptr<DecodePool> MakeDecodePool(const std::vector<JoinInput> &inputs,
                                           const PcmFormat &target, unsigned threads);

} // namespace tandrel
