#include "join/DecodePool.h"

#include "join/DecodePieces.h"
#include "join/OutputStage.h"

#include <algorithm>
#include <cstring>

// The join's side of the pool: each input's pieces in order, as ReadDecodedInput gives them.
namespace tandrel {
namespace {

// The length a decoder reading the whole file would tell at pos: the length it told at open,
// or, an estimate that the audio outgrew, up to the end of the frame being read.
std::uint64_t LengthAt(const DecodePool::Source &s, std::uint64_t pos) {
    if (s.exact || s.frameBytes == 0)
        return std::max(s.length, pos);
    const std::int64_t spf = s.plan.samplesPerFrame;
    const std::int64_t at = std::int64_t(pos / s.frameBytes) + s.skip;
    const std::int64_t frameEnd = (at + spf - 1) / spf * spf - s.skip;
    return std::max(
        {s.length, pos, std::uint64_t(std::max<std::int64_t>(frameEnd, 0)) * s.frameBytes});
}

} // namespace

DecodePool::PiecePtr DecodePool::WaitPiece(std::size_t index, std::size_t number, bool planned) {
    std::unique_lock lock(mutex_);
    for (;;) {
        // What is left of inputs the join went past.
        while (!pieces_.empty() && pieces_.front()->input < index) {
            pieces_.front()->cancelled = true;
            pieces_.pop_front();
            changed_.notify_all();
        }
        if (!pieces_.empty()) {
            const PiecePtr &front = pieces_.front();
            if (front->input == index && front->number == number &&
                (planned ? front->planned : front->done))
                return front;
        }
        changed_.wait(lock);
    }
}

void DecodePool::PopFront() {
    {
        const std::lock_guard lock(mutex_);
        // Its buffer serves a later range: no fresh pages to clear for each.
        std::vector<std::uint8_t> &pcm = pieces_.front()->pcm;
        if (!pcm.empty() && spare_.size() < kSpareBuffers)
            spare_.push_back(std::move(pcm));
        pieces_.pop_front();
    }
    changed_.notify_all();
}

// The join left input index: its pieces are no longer wanted.
void DecodePool::Drop(std::size_t index) {
    {
        const std::lock_guard lock(mutex_);
        for (const PiecePtr &piece : pieces_)
            piece->cancelled = piece->cancelled || piece->input == index;
        std::erase_if(pieces_, [&](const PiecePtr &piece) { return piece->input == index; });
        if (ranged_ && ranged_->index == index)
            ranged_ = nullptr;
    }
    changed_.notify_all();
}

InputResult DecodePool::Read(std::size_t index, InputReader reader, std::uint8_t *buffer,
                             InputBlocks &blocks) {
    const PoolInput &in = inputs_[index];
    if (in.reader != reader || reader == InputReader::Wav)
        return ReadDecodedInput(*in.input, reader, in.blockBytes, buffer, blocks);
    const PiecePtr first = WaitPiece(index, 0, true);
    if (first->ranged)
        return ReadRanges(first, buffer, blocks);
    return ReadStreamed(*first, *in.input, blocks);
}

InputResult DecodePool::ReadStreamed(Piece &piece, const JoinInput &input, InputBlocks &blocks) {
    for (;;) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return piece.count > 0 || piece.done; });
        if (piece.count == 0)
            break;
        const Piece::Slot slot = piece.slots[piece.head];
        const std::uint8_t *data = piece.ring.data() + piece.head * piece.blockBytes;
        lock.unlock();
        if (!blocks.Block(data, slot.bytes)) {
            Drop(piece.input);
            return InputResult::Failed;
        }
        if (blocks.AfterBlock(slot.percent)) {
            Drop(piece.input);
            return InputResult::Stopped;
        }
        lock.lock();
        piece.head = (piece.head + 1) % piece.slots.size();
        --piece.count;
        lock.unlock();
        changed_.notify_all();
    }
    const DecodedEnd end = piece.end;
    PopFront();
    return ReportDecodedEnd(input, end);
}

// Fills buffer with up to want bytes from the ranges, moving on to the next range as one is
// used up; false when a range could not be decoded.
bool DecodePool::FillFromRanges(PiecePtr &piece, std::size_t &offset, std::uint8_t *buffer,
                                std::size_t want, std::size_t &filled) {
    Source &s = *piece->source;
    filled = 0;
    while (filled < want) {
        if (piece->failed)
            return false;
        const std::size_t k = std::min(want - filled, piece->size - offset);
        std::memcpy(buffer + filled, piece->pcm.data() + offset, k);
        offset += k;
        filled += k;
        if (offset < piece->size || piece->number + 1 >= s.plan.ranges.size())
            break;
        if (piece->number > 0)
            s.master->AddRange(*piece->decoder, piece->size);
        PopFront();
        piece = WaitPiece(s.index, piece->number + 1, false);
        offset = 0;
    }
    return true;
}

InputResult DecodePool::ReadRanges(const PiecePtr &first, std::uint8_t *buffer,
                                   InputBlocks &blocks) {
    Source &s = *first->source;
    const JoinInput &input = *inputs_[s.index].input;
    const std::size_t blockBytes = inputs_[s.index].blockBytes;
    PiecePtr piece = WaitPiece(s.index, 0, false);
    std::size_t offset = 0;
    std::uint64_t given = 0;
    for (;;) {
        std::size_t n = 0;
        // A block that lies whole in the range goes from there, uncopied.
        const std::uint8_t *data = buffer;
        if (!piece->failed && piece->size - offset >= blockBytes) {
            data = piece->pcm.data() + offset;
            n = blockBytes;
            offset += n;
        } else if (!FillFromRanges(piece, offset, buffer, blockBytes, n)) {
            Drop(s.index);
            return ReportDecodedEnd(
                input, {DecodedEnd::EndedEarly, {}, std::max(s.length, given + n), given});
        }
        if (n == 0)
            break;
        given += n;
        if (!blocks.Block(data, n)) {
            Drop(s.index);
            return InputResult::Failed;
        }
        // A short block is the end, where the whole file's length becomes what it gave.
        const std::uint64_t length = n < blockBytes ? given : LengthAt(s, given);
        if (blocks.AfterBlock(Percent(given, length))) {
            Drop(s.index);
            return InputResult::Stopped;
        }
    }
    if (piece->number > 0)
        s.master->AddRange(*piece->decoder, piece->size);
    PopFront();
    return ReportDecodedEnd(input, CheckDecodedComplete(input, *s.master, given));
}

} // namespace tandrel
