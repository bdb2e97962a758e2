#pragma once
// The texts of the module's own error reports: what an exception the module raises says
// when it reaches the toolkit's general error report. Each text is Chinese first (GB2312,
// compiled into code-page-936 bytes like every literal of the module), then the technical
// part an engineer needs: the function, a code in hexadecimal, the system's error. The
// host's catalogue messages are not here; they are the host's and are shown as they are.
//
//   MissingExportText("SCConnectReader")   // "读卡器库缺少函数 SCConnectReader"
//
// Every failure an operator can meet in the error box takes its text from here. Texts of
// programming faults that no operator can cause (a layout table naming a missing control,
// a second modal loop on one form) stay the toolkit's own.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace errortext {

// The value in upper-case hexadecimal, at least minDigits (at most 16) digits:
// HexCode(0xC0000005) == "C0000005", HexCode(0x7B, 1) == "7B". Written out here: the
// printf family would bring its whole formatter (floating point included) into the module.
inline std::string HexCode(uint64_t value, int minDigits = 8) {
  char digits[16];
  int n = 0;
  do {
    digits[15 - n++] = "0123456789ABCDEF"[value & 0xF];
    value >>= 4;
  } while (value != 0);
  while (n < minDigits && n < 16) digits[15 - n++] = '0';
  return std::string(digits + 16 - n, static_cast<size_t>(n));
}

// A system error: its number and the system's own description, when it has one.
//   SystemErrorText(5, "拒绝访问。") == "系统错误 5：拒绝访问。"
inline std::string SystemErrorText(long osError, std::string_view description) {
  std::string text = "系统错误 " + std::to_string(osError);
  if (!description.empty()) text.append("：").append(description);
  return text;
}

// What is wrong with a library file the system refused to load, read from its header
// (platform/LibraryFile.h); the system's number follows it in the failure text:
//   "C:\app\lurmScard.dll，文件为空（0 字节），不是可加载的库，系统错误 1006"
inline constexpr const char* kLibraryFileEmpty = "文件为空（0 字节），不是可加载的库";
inline constexpr const char* kLibraryFileNotWindows = "文件不是 Windows 库（没有 MZ/PE 文件头）";
//   LibraryOtherArchitectureText("32 位 x86", "64 位 x64")
//     == "库是为 32 位 x86 程序编译的，本程序为 64 位 x64，两者须一致"
inline std::string LibraryOtherArchitectureText(std::string_view fileMachine,
                                                std::string_view ownMachine) {
  return std::string("库是为 ")
      .append(fileMachine)
      .append(" 程序编译的，本程序为 ")
      .append(ownMachine)
      .append("，两者须一致");
}

// The shared heap refused to free a block (one it did not allocate, or one freed already),
// for the host log.
//   "释放共享内存块失败（不是共享堆的块，或已释放）：HeapFree 0000000000353F98，系统错误 87"
inline std::string SharedFreeRefusedText(uintptr_t block, long osError) {
  return std::string("释放共享内存块失败（不是共享堆的块，或已释放）：HeapFree ")
      .append(HexCode(block, 2 * sizeof(uintptr_t)))
      .append("，")
      .append(SystemErrorText(osError, {}));
}

// A path longer than the system takes from a process that has not opted in to long paths
// (platform/LongPaths.h), counted in UTF-16 characters:
//   PathTooLongText(275, 259) == "路径有 275 个字符，超过 259 个字符的上限（Windows 未启用长路径）"
inline std::string PathTooLongText(size_t length, size_t limit) {
  return "路径有 " + std::to_string(length) + " 个字符，超过 " + std::to_string(limit) +
         " 个字符的上限（Windows 未启用长路径）";
}

// The reader library was loaded but lacks the export.
inline std::string MissingExportText(std::string_view exportName) {
  return std::string("读卡器库缺少函数 ").append(exportName);
}

// The reader library could not be loaded, so none of its functions can be called.
// reason: the file and the system's reason for the failed load.
//   "读卡器库未能加载，无法调用函数 SCConnectReader：C:\app\lurmScard.dll，系统错误 126：..."
inline std::string LibraryNotLoadedText(std::string_view exportName, std::string_view reason) {
  std::string text = std::string("读卡器库未能加载，无法调用函数 ").append(exportName);
  if (!reason.empty()) text.append("：").append(reason);
  return text;
}

// The reader library wrote past the end of the buffer it was given.
//   "读卡器库函数写入越过缓冲区末尾 SCListReaders，缓冲区 1024 字节"
inline std::string BufferOverrunText(std::string_view exportName, size_t size) {
  return std::string("读卡器库函数写入越过缓冲区末尾 ")
      .append(exportName)
      .append("，缓冲区 ")
      .append(std::to_string(size))
      .append(" 字节");
}

// "<what> <operation>，异常代码 <code>，地址 <address>": an exception contained inside a call
// into another library, which was abandoned.
inline std::string AbandonedCallText(std::string_view what, std::string_view operation,
                                     uint32_t code, uintptr_t address) {
  return std::string(what)
      .append(operation)
      .append("，异常代码 ")
      .append(HexCode(code))
      .append("，地址 ")
      .append(HexCode(address));
}

// A processor fault inside a call into another library, contained; the call was abandoned.
//   "库函数执行时发生处理器异常，调用已中止 SCConnectReader，异常代码 C0000005，地址 6A2C1000"
inline std::string ProcessorFaultText(std::string_view operation, uint32_t code,
                                      uintptr_t address) {
  return AbandonedCallText("库函数执行时发生处理器异常，调用已中止 ", operation, code, address);
}

// An exception raised by software inside a call into another library (a C++ or Delphi
// exception, any RaiseException) that the library left unhandled; contained, the call was
// abandoned.
//   "库函数执行时引发了未处理的异常，调用已中止 SCConnectReader，异常代码 E06D7363，地址 6A2C1000"
inline std::string SoftwareExceptionText(std::string_view operation, uint32_t code,
                                         uintptr_t address) {
  return AbandonedCallText("库函数执行时引发了未处理的异常，调用已中止 ", operation, code, address);
}

// A function of another library returned with its caller's frame pointer (ebp) changed;
// the frame pointer was put back and the call abandoned.
//   "库函数返回时改动了调用者的帧指针（EBP），调用已中止 SCConnectReader"
inline std::string FramePointerChangedText(std::string_view operation) {
  return std::string("库函数返回时改动了调用者的帧指针（EBP），调用已中止 ").append(operation);
}

// A function of another library returned with the frame pointer kept but its caller's
// copies of it on the stack overwritten: the library wrote into its caller's frame; the
// call was abandoned.
//   "库函数返回时改写了调用者栈帧中保存的帧指针副本（EBP 未变），调用已中止 SCConnectReader"
inline std::string FrameCopiesDamagedText(std::string_view operation) {
  return std::string("库函数返回时改写了调用者栈帧中保存的帧指针副本（EBP 未变），调用已中止 ")
      .append(operation);
}

// A reader library function returned with the stack pointer off: the library was built
// with another calling convention than stdcall. The library is not called again.
//   "读卡器库函数的调用约定不符，已停止使用该读卡器库：SCConnectReader calling convention,
//    stack pointer off by 8 bytes after the call (stdcall expected)"
inline std::string CallingConventionText(std::string_view exportName, int32_t stackOffset) {
  return std::string("读卡器库函数的调用约定不符，已停止使用该读卡器库：")
      .append(exportName)
      .append(" calling convention, stack pointer off by ")
      .append(std::to_string(stackOffset))
      .append(" bytes after the call (stdcall expected)");
}

// A call into a reader library that faulted earlier in this process; no call was made.
// firstFault names the function and cause of the first fault.
//   "读卡器库此前已出错，请重新启动主程序后再使用读卡器。首次出错：SCConnectReader processor
//    fault C0000005"
inline std::string LibraryFaultedText(std::string_view firstFault) {
  return std::string("读卡器库此前已出错，请重新启动主程序后再使用读卡器。首次出错：")
      .append(firstFault);
}

// A call into a reader library that was stopped earlier in this process because it is built
// with another calling convention than stdcall; no call was made. A restart would not help.
//   "该读卡器库的调用约定不符（应为 stdcall），请更换为正确编译的读卡器库。首次出错：
//    SCConnectReader calling convention"
inline std::string WrongCallingConventionLibraryText(std::string_view firstFault) {
  return std::string(
             "该读卡器库的调用约定不符（应为 stdcall），请更换为正确编译的读卡器库。首次出错：")
      .append(firstFault);
}

// The operation of a profile write refused because the file is read-only (the Windows
// attribute, or no write permission elsewhere) rather than because a system call failed.
inline constexpr std::string_view kReadOnlyOperation = "read-only";

// A profile (INI) file that could not be written; it keeps its old bytes. operation is
// the system call that failed, or kReadOnlyOperation.
//   "配置文件无法写入 C:\app\UserConfig.ini，CreateFileW 失败，系统错误 5：拒绝访问。"
//   "配置文件为只读，无法写入 C:\app\UserConfig.ini，系统错误 5：拒绝访问。"
inline std::string ProfileWriteText(std::string_view path, std::string_view operation,
                                    std::string_view systemError) {
  if (operation == kReadOnlyOperation)
    return std::string("配置文件为只读，无法写入 ").append(path).append("，").append(systemError);
  return std::string("配置文件无法写入 ")
      .append(path)
      .append("，")
      .append(operation)
      .append(" 失败，")
      .append(systemError);
}

// Why a name or value cannot be written to a profile file (it would not read back as written).
inline constexpr const char* kProfileSectionNameUnwritable = "节名为空或含有换行符、空字符";
inline constexpr const char* kProfileKeyNameUnwritable =
    "键名为空、含有换行符、空字符或“=”，或以“[”开头";
inline constexpr const char* kProfileNameEndsInLeadByte = "节名或键名以不完整的双字节字符结尾";
inline constexpr const char* kProfileValueUnwritable = "值含有换行符或空字符";
inline constexpr const char* kProfileTextOutsideCodePage =
    "名称或值含有系统代码页以外的字符，无法写入 UTF-16 文件";

//   ProfileFormatText(kProfileValueUnwritable) == "配置项无法写入配置文件：值含有换行符或空字符"
inline std::string ProfileFormatText(std::string_view reason) {
  return std::string("配置项无法写入配置文件：").append(reason);
}

// The toolkit's own reports.
// A quit request reached the dialog's loop; the request is passed on and the dialog ends.
inline constexpr const char* kApplicationQuitting = "程序正在退出，对话框已关闭";
// Memory ran out.
inline constexpr const char* kOutOfMemory = "内存不足";
// A failure that carries no text of its own.
inline constexpr const char* kUnknownFailure = "发生未知错误";

}  // namespace errortext
