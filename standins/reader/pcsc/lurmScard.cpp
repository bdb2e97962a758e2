#include "lurmScard.h"

#include <cstring>
#include <string>
#include <vector>

#include "PcscApi.h"

namespace {

constexpr LONG kOk = SCARD_S_SUCCESS;
// Room for the longest answer to reset the service hands out.
constexpr DWORD kAtrRoom = 64;
// Largest response of an extended-length APDU: 65536 data bytes and the status word.
constexpr DWORD kResponseRoom = 65538;

// The one service session of the process: the context, and the card handle that
// SCConnectReader keeps for SCSendCmd and SCDisConnectReader.
struct TSession {
  SCARDCONTEXT context = 0;
  bool hasContext = false;
  SCARDHANDLE card = 0;
  bool hasCard = false;
  DWORD protocol = 0;
  std::string reader;  // the connected reader, to reconnect after a service restart
};

TSession session;
std::string errorText;

// Codes by which the service tells that the context or the handle no longer belongs to
// a running service: it stopped, it restarted (old handles are unknown to the new one),
// or the connection to it broke.
bool ServiceLost(LONG rv) {
  switch (ToCode(rv)) {
    case ToCode(SCARD_E_NO_SERVICE):
    case ToCode(SCARD_E_SERVICE_STOPPED):
    case ToCode(SCARD_E_INVALID_HANDLE):
    case ToCode(SCARD_E_READER_UNAVAILABLE):
    case ToCode(SCARD_F_COMM_ERROR):
      return true;
    default:
      return false;
  }
}

void DropCard() {
  if (session.hasCard) SCardDisconnect(session.card, SCARD_LEAVE_CARD);
  session.hasCard = false;
  session.card = 0;
  session.protocol = 0;
}

void DropContext() {
  DropCard();
  if (session.hasContext) SCardReleaseContext(session.context);
  session.hasContext = false;
  session.context = 0;
}

LONG EnsureContext() {
  if (session.hasContext) return kOk;
  SCARDCONTEXT context = 0;
  LONG rv = SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context);
  if (rv != kOk) return rv;
  session.context = context;
  session.hasContext = true;
  return kOk;
}

// Runs one service call; when it finds the service gone, establishes a new context once
// and runs it once more.
template <class TCall>
LONG WithService(TCall call) {
  LONG rv = EnsureContext();
  if (rv != kOk) return rv;
  rv = call();
  if (!ServiceLost(rv)) return rv;
  // Card handles die with their context, so the kept reader name stays for a reconnect.
  DropContext();
  rv = EnsureContext();
  if (rv != kOk) return rv;
  return call();
}

LONG ConnectKept(const std::string& reader) {
  SCARDHANDLE card = 0;
  DWORD protocol = 0;
  LONG rv = PcscConnect(session.context, reader.c_str(), SCARD_SHARE_SHARED,
                        SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card, &protocol);
  if (rv != kOk) return rv;
  session.card = card;
  session.hasCard = true;
  session.protocol = protocol;
  return kOk;
}

// The reader multi-string as the service has it now; it may change between the size
// query and the fetch, so a few rounds are allowed.
LONG FetchReaderList(std::vector<char>& names) {
  LONG rv = kOk;
  for (int round = 0; round < 4; ++round) {
    DWORD length = 0;
    rv = PcscListReaders(session.context, nullptr, nullptr, &length);
    if (rv != kOk) return rv;
    names.assign(length + 1, '\0');  // one spare NUL ends even a malformed list
    DWORD fetched = length;
    rv = PcscListReaders(session.context, nullptr, names.data(), &fetched);
    if (rv == SCARD_E_INSUFFICIENT_BUFFER) continue;
    if (rv != kOk) return rv;
    names.resize(fetched < length ? fetched : length);
    return kOk;
  }
  return rv;
}

// Copies whole names into the 1024-byte buffer; a name with its NUL that does not fit
// in the room left is skipped, never cut.
void PackNames(const std::vector<char>& names, char* buffer) {
  std::memset(buffer, 0, kReaderListSize);
  size_t written = 0;
  size_t pos = 0;
  while (pos < names.size()) {
    const char* name = names.data() + pos;
    size_t length = strnlen(name, names.size() - pos);
    pos += length + 1;
    if (length == 0) break;  // the empty name ends the multi-string
    if (written + length + 1 > static_cast<size_t>(kReaderListSize)) continue;
    std::memcpy(buffer + written, name, length);
    written += length + 1;  // the NUL is already there
  }
}

void WriteAtr(char* out) {
  std::memset(out, 0, kConnectAreaSize);
  BYTE atr[kAtrRoom] = {};
  DWORD atrLength = kAtrRoom;
  DWORD state = 0;
  DWORD protocol = 0;
  DWORD readerLength = 0;
  // Only the ATR is asked for; the reader name is known already.
  LONG rv = PcscStatus(session.card, nullptr, &readerLength, &state, &protocol, atr, &atrLength);
  if (rv != kOk) return;
  if (atrLength > kAtrRoom) atrLength = kAtrRoom;
  out[0] = static_cast<char>(atrLength);
  std::memcpy(out + 1, atr, atrLength);
}

}  // namespace

extern "C" {

int32_t LURM_API SCListReaders(char* buffer) {
  if (!buffer) return ToCode(SCARD_E_INVALID_PARAMETER);
  std::memset(buffer, 0, kReaderListSize);
  std::vector<char> names;
  LONG rv = WithService([&] { return FetchReaderList(names); });
  if (rv != kOk) return ToCode(rv);
  PackNames(names, buffer);
  return 0;
}

int32_t LURM_API SCConnectReader(const char* readerName, char* out) {
  if (out) std::memset(out, 0, kConnectAreaSize);
  if (!readerName) return ToCode(SCARD_E_INVALID_PARAMETER);
  DropCard();
  session.reader.clear();
  std::string reader(readerName);
  LONG rv = WithService([&] { return ConnectKept(reader); });
  if (rv != kOk) return ToCode(rv);
  session.reader = reader;
  if (out) WriteAtr(out);
  return 0;
}

int32_t LURM_API SCDisConnectReader(void) {
  session.reader.clear();
  if (!session.hasCard) return 0;
  LONG rv = SCardDisconnect(session.card, SCARD_LEAVE_CARD);
  session.hasCard = false;
  session.card = 0;
  session.protocol = 0;
  // A handle the service no longer knows is released all the same.
  return ServiceLost(rv) ? 0 : ToCode(rv);
}

int32_t LURM_API SCSendCmd(const uint8_t* command, int32_t commandLength, uint8_t* response,
                           int32_t responseSize, int32_t* responseLength) {
  if (responseLength) *responseLength = 0;
  if (!command || commandLength <= 0 || !response || responseSize < 0 || !responseLength)
    return ToCode(SCARD_E_INVALID_PARAMETER);
  if (!session.hasCard) return ToCode(SCARD_E_INVALID_HANDLE);
  std::vector<BYTE> received(kResponseRoom);
  DWORD receivedLength = 0;
  bool first = true;
  LONG rv = WithService([&] {
    // After a new context the kept handle is gone: connect the same reader again.
    if (!first && !session.hasCard) {
      LONG connected = ConnectKept(session.reader);
      if (connected != kOk) return connected;
    }
    first = false;
    const SCARD_IO_REQUEST* pci =
        session.protocol == SCARD_PROTOCOL_T1 ? SCARD_PCI_T1 : SCARD_PCI_T0;
    receivedLength = kResponseRoom;
    return SCardTransmit(session.card, pci, command, static_cast<DWORD>(commandLength), nullptr,
                         received.data(), &receivedLength);
  });
  if (rv != kOk) return ToCode(rv);
  if (receivedLength > static_cast<DWORD>(responseSize)) {
    *responseLength = static_cast<int32_t>(receivedLength);
    return ToCode(SCARD_E_INSUFFICIENT_BUFFER);
  }
  std::memcpy(response, received.data(), receivedLength);
  *responseLength = static_cast<int32_t>(receivedLength);
  return 0;
}

const char* LURM_API SCGetErrorText(int32_t code) {
  errorText = ServiceErrorText(code);
  return errorText.c_str();
}

}  // extern "C"
