#pragma once
// Loads a reader access library file and resolves its five exports by their plain names,
// as the reader settings module does. Tests call the library only through this.
//
//   ReaderLibrary lib(ReaderLibrary::InstalledPath());  lib.ListReaders(buffer);
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#define READER_API WINAPI
#else
#include <dlfcn.h>
#define READER_API
#endif

class ReaderLibrary {
 public:
  using ListReadersFn = int32_t(READER_API*)(char*);
  using ConnectReaderFn = int32_t(READER_API*)(const char*, char*);
  using DisConnectReaderFn = int32_t(READER_API*)();
  using SendCmdFn = int32_t(READER_API*)(const uint8_t*, int32_t, uint8_t*, int32_t, int32_t*);
  using GetErrorTextFn = const char*(READER_API*)(int32_t);

  // The copy installed as "lurmScard.dll" in the reader folder beside the test programs.
  static std::string InstalledPath() {
#if defined(_WIN32)
    return "pcsc\\lurmScard.dll";
#else
    return "./pcsc/lurmScard.dll";
#endif
  }

  explicit ReaderLibrary(const std::string& path) {
#if defined(_WIN32)
    FHandle = LoadLibraryA(path.c_str());
#else
    FHandle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
    if (!FHandle) throw std::runtime_error("cannot load " + path);
    ListReaders = Resolve<ListReadersFn>("SCListReaders");
    ConnectReader = Resolve<ConnectReaderFn>("SCConnectReader");
    DisConnectReader = Resolve<DisConnectReaderFn>("SCDisConnectReader");
    SendCmd = Resolve<SendCmdFn>("SCSendCmd");
    GetErrorText = Resolve<GetErrorTextFn>("SCGetErrorText");
  }
  ~ReaderLibrary() {
#if defined(_WIN32)
    FreeLibrary(static_cast<HMODULE>(FHandle));
#else
    dlclose(FHandle);
#endif
  }
  ReaderLibrary(const ReaderLibrary&) = delete;
  ReaderLibrary& operator=(const ReaderLibrary&) = delete;

  ListReadersFn ListReaders;
  ConnectReaderFn ConnectReader;
  DisConnectReaderFn DisConnectReader;
  SendCmdFn SendCmd;
  GetErrorTextFn GetErrorText;

 private:
  template <class TFn>
  TFn Resolve(const char* name) {
#if defined(_WIN32)
    void* address = reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(FHandle), name));
#else
    void* address = dlsym(FHandle, name);
#endif
    if (!address) throw std::runtime_error(std::string("no export ") + name);
    return reinterpret_cast<TFn>(address);
  }

  void* FHandle = nullptr;
};

// The caller's buffer sizes, which the library must not write past.
constexpr size_t kReaderListSize = 1024;
constexpr size_t kConnectAreaSize = 256;

// Result codes the tests expect, as the library returns them.
constexpr int32_t kNoSmartcard = static_cast<int32_t>(0x8010000C);
constexpr int32_t kUnknownReader = static_cast<int32_t>(0x80100009);
constexpr int32_t kNoService = static_cast<int32_t>(0x8010001D);
constexpr int32_t kServiceStopped = static_cast<int32_t>(0x8010001E);
constexpr int32_t kNoReaders = static_cast<int32_t>(0x8010002E);
constexpr int32_t kInvalidHandle = static_cast<int32_t>(0x80100003);
constexpr int32_t kInsufficientBuffer = static_cast<int32_t>(0x80100008);
constexpr int32_t kInvalidParameter = static_cast<int32_t>(0x80100004);
constexpr int32_t kUnresponsiveCard = static_cast<int32_t>(0x80100066);
constexpr int32_t kTimeout = static_cast<int32_t>(0x8010000A);
constexpr int32_t kAccessDenied = static_cast<int32_t>(0x8010006A);
