// PNG on Windows through the system's own codecs, the Windows Imaging Component, so that
// spihost.exe stays one file with no library of ours beside it. The same rules as elsewhere:
// transparency composited on black, 16-bit samples kept at 16 bits, no gamma applied.
#include <windows.h>
#include <wincodec.h>

#include <stdio.h>
#include <string.h>

#include "host/picture_formats.h"
#include "host/windows_text.h"

namespace {

// Owns one COM interface pointer.
template <typename Interface>
struct Com {
  Interface* p = nullptr;
  Com() = default;
  Com(const Com&) = delete;
  Com& operator=(const Com&) = delete;
  ~Com() {
    if (p != nullptr) p->Release();
  }
  Interface* operator->() const { return p; }
};

std::string HresultText(HRESULT result) {
  switch (result) {
    case WINCODEC_ERR_BADHEADER:
      return "its header is damaged";
    case WINCODEC_ERR_BADIMAGE:
    case WINCODEC_ERR_BADSTREAMDATA:
      return "its image data is damaged";
    case WINCODEC_ERR_STREAMREAD:
    case WINCODEC_ERR_STREAMNOTAVAILABLE:
      return "the file ends before the picture does";
    case WINCODEC_ERR_UNKNOWNIMAGEFORMAT:
      return "the system's decoder does not know it as a PNG (it may be truncated or damaged)";
    case WINCODEC_ERR_COMPONENTNOTFOUND:
      return "no PNG codec is installed";
    case E_OUTOFMEMORY:
      return "out of memory";
    default:
      break;
  }
  const std::string text = SystemText(DWORD(result));
  char code[32];
  snprintf(code, sizeof code, "error 0x%08lX", static_cast<unsigned long>(result));
  return text.empty() ? std::string(code) : text + " (" + code + ")";
}

// COM for this thread, then the factory; the reason in words if either fails.
bool Factory(Com<IWICImagingFactory>* factory, std::string* why) {
  HRESULT result = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  // Another apartment kind already chosen on this thread serves just as well.
  if (FAILED(result) && result != RPC_E_CHANGED_MODE) {
    *why = "PNG is not available here: COM cannot start (" + HresultText(result) + ")";
    return false;
  }
  result = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                            IID_IWICImagingFactory, reinterpret_cast<void**>(&factory->p));
  if (FAILED(result)) {
    *why = "PNG is not available here: the Windows Imaging Component cannot start (" +
           HresultText(result) + ")";
    return false;
  }
  return true;
}

bool Fail(const char* doing, HRESULT result, std::string* why) {
  *why = std::string("PNG: cannot ") + doing + " it: " + HresultText(result);
  return false;
}

// One row in a layout the system gives: `channels` samples a pixel, of 1 or 2 bytes each
// (little-endian), alpha last when there are 4; gray when there is one.
void StoreRow(const unsigned char* row, uint32_t width, size_t channels, size_t sampleBytes,
              uint16_t* rgb) {
  for (uint32_t x = 0; x < width; ++x, rgb += 3) {
    uint32_t samples[4] = {0, 0, 0, 65535};
    for (size_t c = 0; c < channels; ++c) {
      const unsigned char* at = row + (size_t(x) * channels + c) * sampleBytes;
      samples[c] = sampleBytes == 2 ? LittleU16(at) : at[0] * 257u;
    }
    if (channels == 1) samples[1] = samples[2] = samples[0];
    for (int c = 0; c < 3; ++c)
      rgb[c] = static_cast<uint16_t>((uint64_t(samples[c]) * samples[3] + 32767) / 65535);
  }
}

}  // namespace

bool ReadPng(const unsigned char* bytes, size_t size, Picture* picture, std::string* why) {
  Com<IWICImagingFactory> factory;
  if (!Factory(&factory, why)) return false;
  if (size > 0xFFFFFFFFu) return Fail("read", E_OUTOFMEMORY, why);
  Com<IWICStream> stream;
  HRESULT result = factory->CreateStream(&stream.p);
  if (SUCCEEDED(result)) {
    result = stream->InitializeFromMemory(const_cast<BYTE*>(bytes), DWORD(size));
  }
  if (FAILED(result)) return Fail("read", result, why);
  Com<IWICBitmapDecoder> decoder;
  result = factory->CreateDecoder(GUID_ContainerFormatPng, nullptr, &decoder.p);
  if (SUCCEEDED(result)) result = decoder->Initialize(stream.p, WICDecodeMetadataCacheOnDemand);
  Com<IWICBitmapFrameDecode> frame;
  if (SUCCEEDED(result)) result = decoder->GetFrame(0, &frame.p);
  UINT width = 0, height = 0;
  WICPixelFormatGUID format;
  if (SUCCEEDED(result)) result = frame->GetSize(&width, &height);
  if (SUCCEEDED(result)) result = frame->GetPixelFormat(&format);
  if (FAILED(result)) return Fail("read", result, why);
  if (!CheckPictureSize("PNG", width, height, why)) return false;

  // Deep layouts are copied as they are; everything else is converted to 8-bit RGBA.
  size_t channels = 4, sampleBytes = 2;
  if (IsEqualGUID(format, GUID_WICPixelFormat16bppGray)) {
    channels = 1;
  } else if (IsEqualGUID(format, GUID_WICPixelFormat48bppRGB)) {
    channels = 3;
  } else if (!IsEqualGUID(format, GUID_WICPixelFormat64bppRGBA)) {
    sampleBytes = 1;
  }
  Com<IWICFormatConverter> converter;
  IWICBitmapSource* source = frame.p;
  if (sampleBytes == 1) {
    result = factory->CreateFormatConverter(&converter.p);
    if (SUCCEEDED(result)) {
      result = converter->Initialize(frame.p, GUID_WICPixelFormat32bppRGBA, WICBitmapDitherTypeNone,
                                     nullptr, 0, WICBitmapPaletteTypeCustom);
    }
    if (FAILED(result)) return Fail("convert", result, why);
    source = converter.p;
  }
  const UINT stride = width * UINT(channels * sampleBytes);
  std::vector<unsigned char> row(stride);
  StartPicture(width, height, picture);
  for (UINT y = 0; y < height; ++y) {
    const WICRect rect = {0, INT(y), INT(width), 1};
    result = source->CopyPixels(&rect, stride, stride, row.data());
    if (FAILED(result)) {
      *picture = Picture();
      return Fail("read", result, why);
    }
    StoreRow(row.data(), width, channels, sampleBytes, picture->rgb.data() + size_t(y) * width * 3);
  }
  return true;
}

bool EncodePng(const unsigned char* rgb, uint32_t width, uint32_t height,
               std::vector<unsigned char>* file, std::string* why) {
  Com<IWICImagingFactory> factory;
  if (!Factory(&factory, why)) return false;
  // The encoder's native layout is blue-green-red.
  const UINT stride = width * 3;
  std::vector<unsigned char> bgr(size_t(stride) * height);
  for (size_t i = 0; i < bgr.size(); i += 3) {
    bgr[i] = rgb[i + 2], bgr[i + 1] = rgb[i + 1], bgr[i + 2] = rgb[i];
  }
  Com<IStream> stream;
  HRESULT result = CreateStreamOnHGlobal(nullptr, TRUE, &stream.p);
  Com<IWICBitmapEncoder> encoder;
  if (SUCCEEDED(result))
    result = factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder.p);
  if (SUCCEEDED(result)) result = encoder->Initialize(stream.p, WICBitmapEncoderNoCache);
  Com<IWICBitmapFrameEncode> frame;
  Com<IPropertyBag2> options;
  if (SUCCEEDED(result)) result = encoder->CreateNewFrame(&frame.p, &options.p);
  if (SUCCEEDED(result)) result = frame->Initialize(options.p);
  if (SUCCEEDED(result)) result = frame->SetSize(width, height);
  WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
  if (SUCCEEDED(result)) result = frame->SetPixelFormat(&format);
  if (SUCCEEDED(result) && !IsEqualGUID(format, GUID_WICPixelFormat24bppBGR)) {
    result = WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT;
  }
  if (SUCCEEDED(result)) result = frame->WritePixels(height, stride, UINT(bgr.size()), bgr.data());
  if (SUCCEEDED(result)) result = frame->Commit();
  if (SUCCEEDED(result)) result = encoder->Commit();
  STATSTG status;
  if (SUCCEEDED(result)) result = stream->Stat(&status, STATFLAG_NONAME);
  HGLOBAL memory = nullptr;
  if (SUCCEEDED(result)) result = GetHGlobalFromStream(stream.p, &memory);
  if (FAILED(result)) return Fail("write", result, why);
  const unsigned char* start = static_cast<unsigned char*>(GlobalLock(memory));
  if (start == nullptr) return Fail("write", E_OUTOFMEMORY, why);
  file->assign(start, start + status.cbSize.QuadPart);
  GlobalUnlock(memory);
  return true;
}

bool PngAvailable(std::string* why) {
  Com<IWICImagingFactory> factory;
  return Factory(&factory, why);
}
