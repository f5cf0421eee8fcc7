// A WMA writer library from before the header-info interface: it answers no interface and
// takes every call, writing nothing.

#include "encoders/WmaWriter.h"

using namespace wmaudsdk;

namespace {

class OldWriter final : public IWMAudioWriter {
public:
    HRESULT QueryInterface(const void *, void **object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    std::uint32_t AddRef() override { return ++refs_; }
    std::uint32_t Release() override {
        const std::uint32_t left = --refs_;
        if (left == 0)
            delete this;
        return left;
    }
    HRESULT Reserved3() override { return E_NOTIMPL; }
    HRESULT SetInputFormat(const WAVEFORMATEX *) override { return S_OK; }
    HRESULT SetOutputFormat(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) override {
        return S_OK;
    }
    HRESULT Reserved6() override { return E_NOTIMPL; }
    HRESULT WriteSamples(const std::uint8_t *, std::uint32_t) override { return S_OK; }
    HRESULT Flush() override { return S_OK; }

private:
    ~OldWriter() = default;
    std::uint32_t refs_ = 1;
};

} // namespace

extern "C" __attribute__((visibility("default"))) HRESULT
WMAudioCreateWriter(const char16_t *, IWMAudioWriter **writer) {
    *writer = new OldWriter;
    return S_OK;
}
