#include "join/DecodePool.h"

#include "audio/FileAccess.h"
#include "join/DecodePieces.h"
#include "join/JoinPipeline.h"

#include <algorithm>
#include <cstring>

// The pool's workers: each takes the next piece in list order and decodes it.
namespace tandrel {
namespace {

// Pieces of PCM held stay few, whatever the number of cores: memory stays flat.
constexpr unsigned kMaxWorkers = 10;
// Pieces held at once beyond one for each worker.
constexpr std::size_t kSparePieces = 2;
// Blocks of a streamed input held ahead of the join.
constexpr std::size_t kRingBlocks = 16;

// A streamed input's blocks, placed in its piece's ring; waits while the ring is full.
class RingBlocks : public InputBlocks {
public:
    RingBlocks(DecodePool::Piece &piece, std::mutex &mutex, std::condition_variable &changed,
               const std::atomic<bool> &closing)
        : piece_(piece), mutex_(mutex), changed_(changed), closing_(closing) {}
    bool Block(const std::uint8_t *data, std::size_t count) override {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] {
            return piece_.count < piece_.slots.size() || piece_.cancelled || closing_;
        });
        stop_ = piece_.cancelled || closing_;
        slot_ = (piece_.head + piece_.count) % piece_.slots.size();
        lock.unlock();
        if (!stop_)
            std::memcpy(piece_.ring.data() + slot_ * piece_.blockBytes, data, count);
        bytes_ = count;
        return true;
    }
    bool AfterBlock(int percent) override {
        if (stop_)
            return true;
        const std::lock_guard lock(mutex_);
        piece_.slots[slot_] = {bytes_, percent};
        ++piece_.count;
        changed_.notify_all();
        return false;
    }

private:
    DecodePool::Piece &piece_;
    std::mutex &mutex_;
    std::condition_variable &changed_;
    const std::atomic<bool> &closing_;
    std::size_t slot_ = 0, bytes_ = 0;
    bool stop_ = false;
};

// The most PCM a range can give: its frames from the first kept one on, untrimmed.
std::size_t RangeBytes(const DecodePool::Source &s, std::size_t number) {
    const std::vector<Mp3Range> &r = s.plan.ranges;
    const std::int64_t spf = s.plan.samplesPerFrame;
    const std::int64_t from = r[number].keepFrom / spf;
    const std::int64_t to = number + 1 < r.size() ? r[number + 1].keepFrom / spf : s.plan.frames;
    return std::size_t(std::max<std::int64_t>(to - from, 0) * spf) * s.frameBytes;
}

// The ranges of an MP3 input that holds more than one; null otherwise.
std::shared_ptr<DecodePool::Source> PlanRanges(std::size_t index, const std::string &path,
                                               std::unique_ptr<Decoder> &decoder) {
    std::uint64_t size = 0;
    const int fd = OpenRegularFile(path, size);
    if (fd < 0)
        return nullptr;
    const FdGuard closer(fd);
    Mp3Pieces plan = PlanMp3Pieces(fd, decoder->Mp3FirstFrame(), decoder->Mp3AudioEnd(),
                                   Mp3PieceFrames(decoder->Rate()));
    if (plan.ranges.size() < 2)
        return nullptr;
    auto s = std::make_shared<DecodePool::Source>();
    s->index = index;
    s->plan = std::move(plan);
    s->length = decoder->LengthBytes();
    s->exact = decoder->LengthIsExact();
    s->skip = decoder->Mp3DelaySamples();
    s->frameBytes = std::size_t(decoder->Channels()) * std::size_t(decoder->Bits() / 8);
    decoder->LimitFrames(s->plan.ranges[0].frames);
    s->master = std::move(decoder);
    return s;
}

} // namespace

DecodePool::DecodePool(std::vector<PoolInput> inputs, unsigned workers)
    : inputs_(std::move(inputs)), maxPieces_(workers + kSparePieces) {
    for (std::size_t i = 0; i < inputs_.size(); ++i)
        if (inputs_[i].reader != InputReader::Wav)
            order_.push_back(i);
    for (unsigned i = 0; i < workers; ++i)
        threads_.emplace_back([this] { Work(); });
}

DecodePool::~DecodePool() {
    {
        const std::lock_guard lock(mutex_);
        closing_ = true;
    }
    changed_.notify_all();
    for (std::thread &t : threads_)
        t.join();
}

unsigned DecodePool::WorkersFor(unsigned threads) {
    const unsigned n = threads ? threads : std::thread::hardware_concurrency();
    return std::clamp(n, 1u, kMaxWorkers);
}

std::unique_ptr<DecodePool> MakeDecodePool(const std::vector<JoinInput> &inputs,
                                           const PcmFormat &target, unsigned threads) {
    const unsigned workers = DecodePool::WorkersFor(threads);
    std::vector<PoolInput> pooled;
    bool decoded = false;
    for (const JoinInput &in : inputs) {
        const InputReader reader = ReaderOf(in);
        decoded = decoded || reader != InputReader::Wav;
        pooled.push_back({&in, reader, InputBlockBytes(in.format, target)});
    }
    if (workers < 2 || !decoded)
        return nullptr;
    return std::make_unique<DecodePool>(std::move(pooled), workers);
}

void DecodePool::Work() {
    std::vector<std::uint8_t> block;
    while (const PiecePtr piece = Take()) {
        if (piece->number > 0)
            DecodeRange(*piece);
        else
            StartInput(*piece, block);
    }
}

bool DecodePool::HasWork() const {
    return ranged_ || nextInput_ < order_.size();
}

DecodePool::PiecePtr DecodePool::Take() {
    std::unique_lock lock(mutex_);
    changed_.wait(
        lock, [&] { return closing_ || (!planning_ && pieces_.size() < maxPieces_ && HasWork()); });
    if (closing_)
        return nullptr;
    auto piece = std::make_shared<Piece>();
    if (ranged_) {
        piece->input = ranged_->index;
        piece->number = nextRange_++;
        piece->source = ranged_;
        piece->planned = piece->ranged = true;
        if (nextRange_ >= ranged_->plan.ranges.size())
            ranged_ = nullptr;
    } else {
        // Nothing else is taken until this input is open and its pieces known.
        piece->input = order_[nextInput_++];
        planning_ = true;
    }
    pieces_.push_back(piece);
    return piece;
}

// Opens an input: a split MP3 file gives its first range, another file is streamed whole.
void DecodePool::StartInput(Piece &piece, std::vector<std::uint8_t> &block) {
    const PoolInput &in = inputs_[piece.input];
    std::unique_ptr<Decoder> decoder;
    const DecodedEnd end = OpenDecodedInput(*in.input, in.reader, decoder);
    std::shared_ptr<Source> source;
    if (end.kind == DecodedEnd::Done && decoder->IsMp3())
        source = PlanRanges(piece.input, in.input->path, decoder);
    if (end.kind == DecodedEnd::Done && !source) {
        piece.blockBytes = in.blockBytes;
        piece.slots.resize(kRingBlocks);
        piece.ring.resize(kRingBlocks * in.blockBytes);
    }
    {
        const std::lock_guard lock(mutex_);
        piece.end = end;
        piece.planned = true;
        planning_ = false;
        if (source) {
            piece.ranged = true;
            piece.source = source;
            if (!piece.cancelled) {
                ranged_ = source;
                nextRange_ = 1;
            }
        }
    }
    changed_.notify_all();
    if (end.kind != DecodedEnd::Done)
        Finish(piece, false);
    else if (source)
        DecodeRange(piece);
    else
        StreamInput(piece, *decoder, block);
}

void DecodePool::DecodeRange(Piece &piece) {
    Source &s = *piece.source;
    Decoder *decoder = s.master.get();
    if (piece.number > 0) {
        piece.decoder = s.master->OpenMp3Range(s.plan.ranges[piece.number]);
        decoder = piece.decoder.get();
    }
    bool ok = decoder != nullptr;
    if (ok) {
        const std::size_t want = RangeBytes(s, piece.number);
        piece.pcm = TakeSpare();
        if (piece.pcm.size() < want)
            piece.pcm.resize(want);
        while (!closing_ && piece.size < want) {
            const std::size_t n = decoder->Read(piece.pcm.data() + piece.size, want - piece.size);
            if (n == 0)
                break;
            piece.size += n;
        }
        // More than the range's frames hold: the file is not what was planned.
        ok = !decoder->HasData();
    }
    Finish(piece, !ok);
}

// A range's buffer given back by the join, else an empty one.
std::vector<std::uint8_t> DecodePool::TakeSpare() {
    const std::lock_guard lock(mutex_);
    if (spare_.empty())
        return {};
    std::vector<std::uint8_t> pcm = std::move(spare_.back());
    spare_.pop_back();
    return pcm;
}

void DecodePool::StreamInput(Piece &piece, Decoder &decoder, std::vector<std::uint8_t> &block) {
    const PoolInput &in = inputs_[piece.input];
    block.resize(in.blockBytes);
    RingBlocks ring(piece, mutex_, changed_, closing_);
    const DecodedEnd end =
        StreamDecodedInput(*in.input, decoder, in.blockBytes, block.data(), ring);
    {
        const std::lock_guard lock(mutex_);
        piece.end = end;
    }
    Finish(piece, false);
}

void DecodePool::Finish(Piece &piece, bool failed) {
    {
        const std::lock_guard lock(mutex_);
        piece.failed = failed;
        piece.done = true;
    }
    changed_.notify_all();
}

} // namespace tandrel
