#pragma once
// Libraries loaded at run time from a file path: LoadLibraryExW / GetProcAddress /
// FreeLibrary on Windows, dlopen / dlsym / dlclose elsewhere.
//
//   TModuleHandle h = LoadDynamicLibrary("C:\\app\\lurmScard.dll");
//   void* fn = h != 0 ? FindLibraryExport(h, "SCListReaders") : nullptr;
//   FreeDynamicLibrary(h);
//
// Paths are 8-bit texts in the system code page and should be full paths: a bare
// file name makes the system search its library path. On Windows a library loaded by
// its path finds the libraries it imports in its own folder first, in the program's
// folder no more (the altered search order: its folder, the system folders, the
// current directory or the folder the process named with SetDllDirectory instead,
// PATH); elsewhere the library's own run path decides, and the current directory is
// never searched.
#include <cstdint>
#include <string>

#include "platform/UniqueHandle.h"

// A loaded library as the system identifies it; 0 is none.
using TModuleHandle = uintptr_t;

// Loads the library file at path; 0 when it is missing or not a loadable library. Then,
// when failure is given, it receives the reason, taken at the failing call: on Windows
// what the file's header shows is wrong (empty, not a Windows library, built for another
// architecture: platform/LibraryFile.h) followed by the system's error number, or else
// the error number and the system's description (its "%1" naming path); dlerror's text
// elsewhere.
//   "文件为空（0 字节），不是可加载的库，系统错误 1006"   (193 under Wine)
// A full path longer than Windows takes from the process (platform/LongPaths.h) is not
// handed to the system at all; its failure is that reason, and the last error
// ERROR_FILENAME_EXCED_RANGE:
//   "路径有 275 个字符，超过 259 个字符的上限（Windows 未启用长路径）"
TModuleHandle LoadDynamicLibrary(const char* path, std::string* failure = nullptr);

// Loads a library of the system by its file name ("oleacc.dll") from the system folder
// only: never from the program's folder, the current directory or PATH, where a planted
// copy would run in the process. On Windows LoadLibraryExW with
// LOAD_LIBRARY_SEARCH_SYSTEM32, or where the system lacks that flag (Windows 7 without
// KB2533623) the full path in GetSystemDirectoryW; elsewhere the system's library search.
// 0 when it cannot be loaded. Use it for every system library that is not imported.
//   TModuleHandle oleacc = LoadSystemLibrary("oleacc.dll");
TModuleHandle LoadSystemLibrary(const char* fileName);

// The address of the export named name, or null when the library lacks it.
void* FindLibraryExport(TModuleHandle module, const char* name);

// Releases one load of module; 0 is ignored.
void FreeDynamicLibrary(TModuleHandle module);

struct FreeDynamicLibraryFn {
  void operator()(TModuleHandle module) const noexcept { FreeDynamicLibrary(module); }
};
// One owned load of a library: released once, when its owner goes.
//   UniqueModule module(LoadDynamicLibrary(path));
using UniqueModule = UniqueHandle<TModuleHandle, FreeDynamicLibraryFn>;
