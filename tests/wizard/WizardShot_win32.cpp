// Pictures of the live wizard window: the window's screen area is copied from the screen (the
// X server's frame buffer under Xvfb) and written as PNG with the system's imaging codecs.
#include "WizardShot_win32.h"

#include <wincodec.h>

#include <vector>

namespace wizdrv {

namespace {

template <typename T>
struct TCom {
  T* p = nullptr;
  ~TCom() {
    if (p) p->Release();
  }
  T** operator&() { return &p; }
  T* operator->() const { return p; }
};

bool Failed(HRESULT hr, const char* what, std::string& error) {
  if (SUCCEEDED(hr)) return false;
  char text[96];
  wsprintfA(text, "%s failed (0x%08lX)", what, static_cast<unsigned long>(hr));
  error = text;
  return true;
}

bool WritePng(const std::wstring& path, int width, int height, const std::vector<BYTE>& pixels,
              UINT stride, std::string& error) {
  TCom<IWICImagingFactory> factory;
  HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IWICImagingFactory, reinterpret_cast<void**>(&factory));
  if (Failed(hr, "creating the imaging factory", error)) return false;
  TCom<IWICStream> stream;
  if (Failed(factory->CreateStream(&stream), "CreateStream", error)) return false;
  if (Failed(stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE), "opening the file",
             error))
    return false;
  TCom<IWICBitmapEncoder> encoder;
  if (Failed(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder), "CreateEncoder",
             error))
    return false;
  if (Failed(encoder->Initialize(stream.p, WICBitmapEncoderNoCache), "encoder Initialize", error))
    return false;
  TCom<IWICBitmapFrameEncode> frame;
  TCom<IPropertyBag2> options;
  if (Failed(encoder->CreateNewFrame(&frame, &options), "CreateNewFrame", error)) return false;
  if (Failed(frame->Initialize(options.p), "frame Initialize", error)) return false;
  if (Failed(frame->SetSize(width, height), "SetSize", error)) return false;
  WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
  if (Failed(frame->SetPixelFormat(&format), "SetPixelFormat", error)) return false;
  if (format != GUID_WICPixelFormat24bppBGR) {
    error = "the PNG encoder refused 24-bit pixels";
    return false;
  }
  if (Failed(frame->WritePixels(height, stride, static_cast<UINT>(pixels.size()),
                                const_cast<BYTE*>(pixels.data())),
             "WritePixels", error))
    return false;
  if (Failed(frame->Commit(), "frame Commit", error)) return false;
  return !Failed(encoder->Commit(), "encoder Commit", error);
}

}  // namespace

bool SaveWindowPng(HWND hwnd, const std::wstring& path, std::string& error) {
  RECT rc{};
  if (!GetWindowRect(hwnd, &rc)) {
    error = "no window";
    return false;
  }
  const int width = rc.right - rc.left, height = rc.bottom - rc.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  const BOOL copied =
      BitBlt(memory, 0, 0, width, height, screen, rc.left, rc.top, SRCCOPY | CAPTUREBLT);
  SelectObject(memory, old);

  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down rows, as the encoder wants them
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  const UINT stride = (static_cast<UINT>(width) * 3 + 3) & ~3u;
  std::vector<BYTE> pixels(static_cast<size_t>(stride) * height);
  const int rows = GetDIBits(memory, bitmap, 0, height, pixels.data(), &info, DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  if (!copied || rows != height) {
    error = "copying the screen area failed";
    return false;
  }
  return WritePng(path, width, height, pixels, stride, error);
}

}  // namespace wizdrv
