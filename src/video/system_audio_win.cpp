// Windows loopback recorder: what the default render device plays, through the
// audio engine's loopback mode (WASAPI, shared mode). COM lives on the capture
// thread, which makes, uses and releases the recorder. The mix format is taken
// as the device gives it (float or 16-bit, any rate and channel count); the
// mixing and decimation are the portable code's.
#include <windows.h>
// after windows.h, which they need
#include <audioclient.h>
#include <mmdeviceapi.h>
#include <objbase.h>

#include <cstdio>
#include <mutex>
#include <string>

#include "video/system_audio.h"

namespace {

// The interface and class identifiers, spelt out so no import library of
// GUIDs is needed.
const CLSID k_clsid_enumerator = {
    0xBCDE0395, 0xE52F, 0x467C, {0x8E, 0x3D, 0xC4, 0x57, 0x92, 0x91, 0x69, 0x2E}};
const IID k_iid_enumerator = {
    0xA95664D2, 0x9614, 0x4F35, {0xA7, 0x46, 0xDE, 0x8D, 0xB6, 0x36, 0x17, 0xE6}};
const IID k_iid_audio_client = {
    0x1CB9AD4C, 0xDBFA, 0x4C32, {0xB1, 0x78, 0xC2, 0xF5, 0x68, 0xA7, 0x03, 0xB2}};
const IID k_iid_capture_client = {
    0xC8ADBD64, 0xE71E, 0x48A0, {0xA4, 0xDE, 0x18, 0x5C, 0x39, 0x5C, 0xD3, 0x17}};
const GUID k_subtype_pcm = {
    0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
const GUID k_subtype_float = {
    0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

constexpr REFERENCE_TIME k_buffer_duration = 2000000;  // 200 ms in 100-ns units

void report(const char* format, HRESULT hr) {
    report_audio_failure(format, static_cast<unsigned long>(hr));
}

void note_started() { report_audio_started(); }

template <typename T>
void drop(T*& p) {
    if (p) p->Release();
    p = nullptr;
}

// The tag the format check understands: an extensible format names its
// sample kind by sub-format.
uint32_t plain_tag(const WAVEFORMATEX* f) {
    if (f->wFormatTag != WAVE_FORMAT_EXTENSIBLE || f->cbSize < 22) return f->wFormatTag;
    const auto* x = reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(f);
    if (IsEqualGUID(x->SubFormat, k_subtype_float)) return 3;
    if (IsEqualGUID(x->SubFormat, k_subtype_pcm)) return 1;
    return f->wFormatTag;
}

class WasapiLoopbackSource final : public AudioSource {
  public:
    ~WasapiLoopbackSource() override {
        release();
        if (com_) CoUninitialize();
    }
    bool open(AudioMixFormat& format) override;
    bool read_available(const std::function<void(const void* data, size_t frames)>& sink) override;

  private:
    bool fail(const char* message, HRESULT hr) {
        report(message, hr);
        release();
        return false;
    }
    void release();

    bool com_ = false;
    IMMDeviceEnumerator* enumerator_ = nullptr;
    IMMDevice* device_ = nullptr;
    IAudioClient* client_ = nullptr;
    IAudioCaptureClient* capture_ = nullptr;
    WAVEFORMATEX* mix_ = nullptr;
    bool started_ = false;
};

bool WasapiLoopbackSource::open(AudioMixFormat& format) {
    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(hr)) return fail("Audio: CoInitializeEx failed (hr=0x%08lX)\n", hr);
    com_ = true;
    hr = CoCreateInstance(k_clsid_enumerator, nullptr, CLSCTX_ALL, k_iid_enumerator,
                          reinterpret_cast<void**>(&enumerator_));
    if (FAILED(hr)) return fail("Audio: MMDeviceEnumerator failed (hr=0x%08lX)\n", hr);
    hr = enumerator_->GetDefaultAudioEndpoint(eRender, eConsole, &device_);
    if (FAILED(hr)) return fail("Audio: no default render device (hr=0x%08lX)\n", hr);
    hr = device_->Activate(k_iid_audio_client, CLSCTX_ALL, nullptr,
                           reinterpret_cast<void**>(&client_));
    if (FAILED(hr)) return fail("Audio: IAudioClient activate failed (hr=0x%08lX)\n", hr);
    hr = client_->GetMixFormat(&mix_);
    if (FAILED(hr) || !mix_) {
        if (SUCCEEDED(hr)) hr = E_POINTER;
        return fail("Audio: GetMixFormat failed (hr=0x%08lX)\n", hr);
    }
    uint32_t tag = plain_tag(mix_);
    if (!((tag == 3 && mix_->wBitsPerSample == 32) || (tag == 1 && mix_->wBitsPerSample == 16)))
        tag = mix_->wFormatTag;  // a refusal names the device's own tag
    if (!audio_format_supported(tag, mix_->wBitsPerSample, mix_->nSamplesPerSec, mix_->nChannels,
                                format.kind)) {
        release();
        return false;
    }
    format.rate = mix_->nSamplesPerSec;
    format.channels = mix_->nChannels;
    hr = client_->Initialize(AUDCLNT_SHAREMODE_SHARED, AUDCLNT_STREAMFLAGS_LOOPBACK,
                             k_buffer_duration, 0, mix_, nullptr);
    if (FAILED(hr)) return fail("Audio: IAudioClient::Initialize failed (hr=0x%08lX)\n", hr);
    hr = client_->GetService(k_iid_capture_client, reinterpret_cast<void**>(&capture_));
    if (FAILED(hr)) return fail("Audio: IAudioCaptureClient failed (hr=0x%08lX)\n", hr);
    hr = client_->Start();
    if (FAILED(hr)) return fail("Audio: stream start failed (hr=0x%08lX)\n", hr);
    started_ = true;
    note_started();
    return true;
}

bool WasapiLoopbackSource::read_available(
    const std::function<void(const void* data, size_t frames)>& sink) {
    if (!capture_) return false;
    UINT32 packet = 0;
    HRESULT hr = capture_->GetNextPacketSize(&packet);
    while (SUCCEEDED(hr) && packet > 0) {
        BYTE* data = nullptr;
        UINT32 frames = 0;
        DWORD flags = 0;
        hr = capture_->GetBuffer(&data, &frames, &flags, nullptr, nullptr);
        if (FAILED(hr) || hr == AUDCLNT_S_BUFFER_EMPTY) break;
        if (frames > 0) sink((flags & AUDCLNT_BUFFERFLAGS_SILENT) ? nullptr : data, frames);
        hr = capture_->ReleaseBuffer(frames);
        if (FAILED(hr)) break;
        hr = capture_->GetNextPacketSize(&packet);
    }
    if (SUCCEEDED(hr)) return true;
    report("Audio: capture device lost (hr=0x%08lX), continuing with silence\n", hr);
    release();
    return false;
}

void WasapiLoopbackSource::release() {
    if (client_ && started_) client_->Stop();
    started_ = false;
    drop(capture_);
    drop(client_);
    drop(device_);
    drop(enumerator_);
    if (mix_) CoTaskMemFree(mix_);
    mix_ = nullptr;
}

}  // namespace

std::unique_ptr<AudioSource> make_platform_audio_source() {
    return std::make_unique<WasapiLoopbackSource>();
}
