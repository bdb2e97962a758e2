#include "lurmScard.h"

#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "PcscApi.h"
#include "Threads.h"

namespace {

constexpr LONG kOk = SCARD_S_SUCCESS;
// Room for the longest answer to reset the service hands out.
constexpr DWORD kAtrRoom = 64;
// Largest response of an extended-length APDU: 65536 data bytes and the status word.
constexpr DWORD kResponseRoom = 65538;
// Largest command: an extended-length APDU with 65535 data bytes (header 4, Lc 3, Le 2).
constexpr int32_t kMaxCommandLength = 4 + 3 + 65535 + 2;
// Time limit of a connect, unless the environment names another (milliseconds).
constexpr int kDefaultConnectLimitMs = 5000;
constexpr int kLongestConnectLimitMs = 600000;
constexpr const char* kConnectLimitVariable = "LURMSCARD_CONNECT_TIMEOUT_MS";
// Pauses before the next attempt to establish a context while the service is going away;
// about 0.8 s in all.
constexpr int kEstablishPausesMs[] = {20, 50, 100, 200, 400};

// A card session: the card handle and the context it was made on. Each connect makes a
// context of its own, so that a connect that hangs in the service never blocks the
// library's listing context (pcsc-lite runs one request at a time per context).
struct TConnection {
  SCARDCONTEXT context = 0;
  SCARDHANDLE card = 0;
  DWORD protocol = 0;
  bool open = false;
};

// What the library holds in the service: trivially destructible, so that the unload hook
// may release it whatever the order in which the runtime ends the library's objects.
struct THeld {
  SCARDCONTEXT context = 0;  // the listing context
  bool hasContext = false;
  TConnection connection;  // the card SCConnectReader kept for SCSendCmd
};

THeld held;
// The reader of the kept card; it stays when the card's handle is lost with the service,
// so that SCSendCmd can connect it again. Cleared by a new connect and by a disconnect.
std::string keptReader;
std::string errorText;

// Codes by which the service tells that a context or handle no longer belongs to a running
// service: it stopped, it restarted (old handles are unknown to the new one), or the
// connection to it broke. pcsc-lite reports a connection that the dying service reset
// under a request as 8010006A ("access denied"), which is no verdict on access.
bool ServiceLost(LONG rv) {
  switch (ToCode(rv)) {
    case ToCode(SCARD_E_NO_SERVICE):
    case ToCode(SCARD_E_SERVICE_STOPPED):
    case ToCode(SCARD_E_INVALID_HANDLE):
    case ToCode(SCARD_E_READER_UNAVAILABLE):
    case ToCode(SCARD_F_COMM_ERROR):
    case ToCode(SCARD_W_SECURITY_VIOLATION):
      return true;
    default:
      return false;
  }
}

// A code for the caller once the service was met going away in this call: the reset
// connection's 8010006A becomes "service stopped".
LONG AfterLoss(LONG rv) { return rv == SCARD_W_SECURITY_VIOLATION ? SCARD_E_SERVICE_STOPPED : rv; }

// Establishes a context. A service that is going away answers with a reset connection
// (8010006A) or a broken one; those are tried again after short pauses. After a loss
// (serviceLost) a missing service is tried again as well, since it may be restarting.
// What remains after the pauses is reported as the service's state: stopped when it was
// lost in this call, missing when it was seen missing; a service that keeps answering
// 8010006A with no sign of going away is believed.
LONG Establish(SCARDCONTEXT& context, bool serviceLost) {
  bool sawMissing = false;
  LONG rv = kOk;
  for (size_t attempt = 0;; ++attempt) {
    rv = SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context);
    if (rv == kOk) return kOk;
    if (rv == SCARD_E_NO_SERVICE) sawMissing = true;
    const bool passing = rv == SCARD_W_SECURITY_VIOLATION || rv == SCARD_F_COMM_ERROR ||
                         (serviceLost && rv == SCARD_E_NO_SERVICE);
    if (!passing || attempt == std::size(kEstablishPausesMs)) break;
    PauseMs(kEstablishPausesMs[attempt]);
  }
  context = 0;
  if (rv == SCARD_W_SECURITY_VIOLATION || rv == SCARD_F_COMM_ERROR) {
    if (serviceLost) return SCARD_E_SERVICE_STOPPED;
    if (sawMissing) return SCARD_E_NO_SERVICE;
  }
  return rv;
}

void CloseConnection(TConnection& connection) {
  if (!connection.open) return;
  SCardDisconnect(connection.card, SCARD_LEAVE_CARD);
  SCardReleaseContext(connection.context);
  connection = TConnection();
}

void DropListingContext() {
  if (held.hasContext) SCardReleaseContext(held.context);
  held.hasContext = false;
  held.context = 0;
}

LONG EnsureListingContext(bool serviceLost) {
  if (held.hasContext) return kOk;
  SCARDCONTEXT context = 0;
  LONG rv = Establish(context, serviceLost);
  if (rv != kOk) return rv;
  held.context = context;
  held.hasContext = true;
  return kOk;
}

// Runs one call on the listing context; when it finds the service gone, establishes a new
// context and runs it once more.
template <class TCall>
LONG WithListingContext(TCall call) {
  LONG rv = EnsureListingContext(false);
  if (rv != kOk) return rv;
  rv = call(held.context);
  if (!ServiceLost(rv)) return rv;
  DropListingContext();
  rv = EnsureListingContext(true);
  if (rv != kOk) return rv;
  return AfterLoss(call(held.context));
}

// Ends the listing context with the call where the unload hook could not release it.
struct TCallScope {
  ~TCallScope() {
    if (!kContextOutlivesCalls) DropListingContext();
  }
};

// One connect, run on a worker thread so that the caller can stop waiting for it. The
// worker owns the context it makes until the caller takes the connection; a worker the
// caller gave up on releases whatever it got when the service finally answers.
struct TConnectJob {
  std::string reader;
  bool serviceLost = false;  // the caller lost this reader's card with the service
  TJobLock lock;             // wakes the waiters when the worker is done
  // Guarded by lock:
  bool done = false;
  bool abandoned = false;
  bool cardPresent = false;  // the service showed a card in the reader before the connect
  LONG result = kOk;
  TConnection connection;
  std::string atr;
};

// One connect on a new context; established tells whether the context was made, so that a
// service missing from the start is not asked twice.
LONG ConnectOnce(TConnectJob& job, TConnection& connection, bool serviceLost, bool& established) {
  SCARDCONTEXT context = 0;
  LONG rv = Establish(context, serviceLost);
  established = rv == kOk;
  if (rv != kOk) return rv;
  PcscReaderState state{};
  state.szReader = job.reader.c_str();
  state.dwCurrentState = SCARD_STATE_UNAWARE;
  // Only tells what a connect that never ends was waiting for; the connect gives the code.
  if (PcscGetStatusChange(context, 0, &state, 1) == kOk &&
      (state.dwEventState & SCARD_STATE_PRESENT) != 0) {
    TLockScope scope(job.lock);
    job.cardPresent = true;
  }
  SCARDHANDLE card = 0;
  DWORD protocol = 0;
  rv = PcscConnect(context, job.reader.c_str(), SCARD_SHARE_SHARED,
                   SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card, &protocol);
  if (rv != kOk) {
    SCardReleaseContext(context);
    return rv;
  }
  connection.context = context;
  connection.card = card;
  connection.protocol = protocol;
  connection.open = true;
  return kOk;
}

std::string ReadAtr(const TConnection& connection) {
  BYTE atr[kAtrRoom] = {};
  DWORD atrLength = kAtrRoom;
  DWORD state = 0;
  DWORD protocol = 0;
  DWORD readerLength = 0;
  // Only the ATR is asked for; the reader name is known already.
  if (PcscStatus(connection.card, nullptr, &readerLength, &state, &protocol, atr, &atrLength) !=
      kOk)
    return std::string();
  if (atrLength > kAtrRoom) atrLength = kAtrRoom;
  return std::string(reinterpret_cast<const char*>(atr), atrLength);
}

void RunConnect(std::shared_ptr<TConnectJob> job) {
  TConnection connection;
  bool established = false;
  LONG rv = ConnectOnce(*job, connection, job->serviceLost, established);
  bool lost = job->serviceLost;
  if (established && ServiceLost(rv)) {
    // The service went away during the connect: once more on a new context.
    lost = true;
    rv = ConnectOnce(*job, connection, true, established);
  }
  if (lost) rv = AfterLoss(rv);
  std::string atr = rv == kOk ? ReadAtr(connection) : std::string();
  bool taken = false;
  {
    TLockScope scope(job->lock);
    job->done = true;
    job->result = rv;
    if (!job->abandoned) {
      job->connection = connection;
      job->atr = atr;
      taken = true;
    }
    job->lock.WakeAll();
  }
  if (!taken) CloseConnection(connection);
}

// Connects given up on that may still be waiting in the service.
std::vector<std::shared_ptr<TConnectJob>> abandonedJobs;

int ConnectLimitMs() {
  const std::string text = EnvironmentText(kConnectLimitVariable);
  if (text.empty() || text.size() > 6) return kDefaultConnectLimitMs;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return kDefaultConnectLimitMs;
    value = value * 10 + (c - '0');
  }
  return value >= 1 && value <= kLongestConnectLimitMs ? value : kDefaultConnectLimitMs;
}

// The code for a connect that did not end in time: the card did not answer when the
// service showed one in the reader; otherwise the service itself did not answer.
LONG TimedOut(bool cardPresent) {
  return cardPresent ? SCARD_W_UNRESPONSIVE_CARD : SCARD_E_TIMEOUT;
}

// Connects the reader within the time limit. A connect that does not end in time is left
// to its worker, and the library stays mapped so that the worker's code stays there.
LONG BoundedConnect(const std::string& reader, bool serviceLost, TConnection& connection,
                    std::string& atr) {
  const int64_t deadline = MonotonicMs() + ConnectLimitMs();
  std::erase_if(abandonedJobs, [](const std::shared_ptr<TConnectJob>& job) {
    TLockScope scope(job->lock);
    return job->done;
  });
  // A connect still waiting on this reader holds it in the service; a second one would only
  // queue behind it. Wait for the first within this call's limit instead.
  for (const std::shared_ptr<TConnectJob>& job : abandonedJobs) {
    if (job->reader != reader) continue;
    TLockScope scope(job->lock);
    if (!WaitUntil(job->lock, deadline, [&] { return job->done; }))
      return TimedOut(job->cardPresent);
  }

  auto job = std::make_shared<TConnectJob>();
  job->reader = reader;
  job->serviceLost = serviceLost;
  TWorkerThread worker([job] { RunConnect(job); });
  bool finished = false;
  bool cardPresent = false;
  {
    TLockScope scope(job->lock);
    finished = WaitUntil(job->lock, deadline, [&] { return job->done; });
    if (!finished) job->abandoned = true;
    cardPresent = job->cardPresent;
  }
  if (!finished) {
    KeepLibraryLoaded();
    worker.Detach();
    abandonedJobs.push_back(job);
    return TimedOut(cardPresent);
  }
  // The worker is past its last use of the job; joining makes sure it has left this
  // library's code before the caller may unload it.
  worker.Join();
  connection = job->connection;
  atr = job->atr;
  return job->result;
}

// The reader multi-string as the service has it now; it may change between the size
// query and the fetch, so a few rounds are allowed.
LONG FetchReaderList(SCARDCONTEXT context, std::vector<char>& names) {
  LONG rv = kOk;
  for (int round = 0; round < 4; ++round) {
    DWORD length = 0;
    rv = PcscListReaders(context, nullptr, nullptr, &length);
    if (rv != kOk) return rv;
    names.assign(length + 1, '\0');  // one spare NUL ends even a malformed list
    DWORD fetched = length;
    rv = PcscListReaders(context, nullptr, names.data(), &fetched);
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

LONG Transmit(const uint8_t* command, int32_t commandLength, std::vector<BYTE>& received,
              DWORD& receivedLength) {
  const SCARD_IO_REQUEST* pci =
      held.connection.protocol == SCARD_PROTOCOL_T1 ? SCARD_PCI_T1 : SCARD_PCI_T0;
  receivedLength = kResponseRoom;
  return SCardTransmit(held.connection.card, pci, command, static_cast<DWORD>(commandLength),
                       nullptr, received.data(), &receivedLength);
}

// Connects the kept reader again after its handle was lost.
LONG Reconnect(bool serviceLost) {
  std::string atr;
  return BoundedConnect(keptReader, serviceLost, held.connection, atr);
}

// Nothing is thrown out of an export: a failure to get memory or a thread is a code.
template <class TBody>
int32_t Guarded(TBody body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return ToCode(SCARD_E_NO_MEMORY);
  } catch (...) {
    return ToCode(SCARD_F_INTERNAL_ERROR);
  }
}

}  // namespace

void ReleaseHeldService() {
  CloseConnection(held.connection);
  DropListingContext();
}

extern "C" {

int32_t LURM_API SCListReaders(char* buffer) {
  if (!buffer) return ToCode(SCARD_E_INVALID_PARAMETER);
  std::memset(buffer, 0, kReaderListSize);
  return Guarded([&] {
    TCallScope scope;
    std::vector<char> names;
    LONG rv =
        WithListingContext([&](SCARDCONTEXT context) { return FetchReaderList(context, names); });
    if (rv != kOk) return ToCode(rv);
    PackNames(names, buffer);
    return 0;
  });
}

int32_t LURM_API SCConnectReader(const char* readerName, char* out) {
  if (out) std::memset(out, 0, kConnectAreaSize);
  if (!readerName) return ToCode(SCARD_E_INVALID_PARAMETER);
  return Guarded([&] {
    CloseConnection(held.connection);
    keptReader.clear();
    std::string reader(readerName);
    std::string atr;
    LONG rv = BoundedConnect(reader, false, held.connection, atr);
    if (rv != kOk) return ToCode(rv);
    keptReader = reader;
    if (out && !atr.empty()) {
      out[0] = static_cast<char>(atr.size());
      std::memcpy(out + 1, atr.data(), atr.size());
    }
    return 0;
  });
}

int32_t LURM_API SCDisConnectReader(void) {
  keptReader.clear();
  if (!held.connection.open) return 0;
  LONG rv = SCardDisconnect(held.connection.card, SCARD_LEAVE_CARD);
  SCardReleaseContext(held.connection.context);
  held.connection = TConnection();
  // A handle the service no longer knows is released all the same.
  return ServiceLost(rv) ? 0 : ToCode(rv);
}

int32_t LURM_API SCSendCmd(const uint8_t* command, int32_t commandLength, uint8_t* response,
                           int32_t responseSize, int32_t* responseLength) {
  if (responseLength) *responseLength = 0;
  if (!command || commandLength <= 0 || !response || responseSize < 0 || !responseLength)
    return ToCode(SCARD_E_INVALID_PARAMETER);
  if (commandLength > kMaxCommandLength) {
    *responseLength = kMaxCommandLength;
    return ToCode(SCARD_E_INSUFFICIENT_BUFFER);
  }
  if (!held.connection.open && keptReader.empty()) return ToCode(SCARD_E_INVALID_HANDLE);
  return Guarded([&] {
    std::vector<BYTE> received(kResponseRoom);
    DWORD receivedLength = 0;
    bool reconnected = false;
    LONG rv = kOk;
    if (!held.connection.open) {
      // The handle went with the service in an earlier call.
      reconnected = true;
      rv = Reconnect(true);
    }
    if (rv == kOk) rv = Transmit(command, commandLength, received, receivedLength);
    if (ServiceLost(rv) && !reconnected) {
      CloseConnection(held.connection);
      rv = Reconnect(true);
      if (rv == kOk) rv = Transmit(command, commandLength, received, receivedLength);
    }
    if (ServiceLost(rv)) {
      // The kept reader stays for the next call; the dead handle goes.
      CloseConnection(held.connection);
      rv = AfterLoss(rv);
    }
    if (rv != kOk) return ToCode(rv);
    // Every response ends with its status word; less is a card that stopped answering.
    if (receivedLength < 2) return ToCode(SCARD_W_UNRESPONSIVE_CARD);
    if (receivedLength > static_cast<DWORD>(responseSize)) {
      *responseLength = static_cast<int32_t>(receivedLength);
      return ToCode(SCARD_E_INSUFFICIENT_BUFFER);
    }
    std::memcpy(response, received.data(), receivedLength);
    *responseLength = static_cast<int32_t>(receivedLength);
    return 0;
  });
}

const char* LURM_API SCGetErrorText(int32_t code) {
  try {
    errorText = ServiceErrorText(code);
  } catch (...) {
    errorText.clear();
  }
  return errorText.c_str();
}

}  // extern "C"
