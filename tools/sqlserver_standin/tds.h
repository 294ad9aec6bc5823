#pragma once

// TDS 7.x wire format: packets, the client's requests (PRELOGIN, LOGIN7,
// SQL batch, RPC, transaction manager) and the server's token stream.

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "platform/codepage.h"

namespace standin {

using Bytes = std::vector<uint8_t>;

struct ProtocolError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// ---- text -----------------------------------------------------------------

// The installer's conversions: malformed UTF-8 and lone surrogates become
// U+FFFD.
using dbsetup::utf16_to_utf8;
using dbsetup::utf8_to_utf16;
// Reads `chars` UTF-16LE code units from raw bytes.
std::u16string utf16_from_le(const uint8_t* p, size_t chars);

// ---- byte reader / writer ---------------------------------------------------

class Writer {
 public:
  Bytes data;
  void u8(uint8_t v) { data.push_back(v); }
  void u16(uint16_t v);  // little endian
  void u32(uint32_t v);
  void u64(uint64_t v);
  void u16be(uint16_t v);
  void u32be(uint32_t v);
  void bytes(const void* p, size_t n);
  void bytes(const Bytes& b) { data.insert(data.end(), b.begin(), b.end()); }
  void ucs2(const std::u16string& s);
  void b_varchar(const std::string& utf8);   // 1-byte length in characters
  void us_varchar(const std::string& utf8);  // 2-byte length in characters
  size_t size() const { return data.size(); }
  void patch_u16(size_t at, uint16_t v);
};

class Reader {
 public:
  Reader(const uint8_t* p, size_t n) : p_(p), n_(n) {}
  explicit Reader(const Bytes& b) : p_(b.data()), n_(b.size()) {}
  uint8_t u8();
  uint16_t u16();
  uint32_t u32();
  uint64_t u64();
  uint16_t u16be();
  uint32_t u32be();
  Bytes bytes(size_t n);
  std::u16string ucs2(size_t chars);
  std::string b_varchar();
  std::string us_varchar();
  void skip(size_t n);
  size_t pos() const { return pos_; }
  size_t remaining() const { return n_ - pos_; }
  const uint8_t* here() const { return p_ + pos_; }

 private:
  void need(size_t n) const;
  const uint8_t* p_;
  size_t n_;
  size_t pos_ = 0;
};

// A little-endian signed integer of 1, 2, 4 or 8 bytes, as TDS sends them;
// throws ProtocolError when longer.
int64_t read_int_le(const Bytes& b);

// ---- packets ----------------------------------------------------------------

enum PacketType : uint8_t {
  kSqlBatch = 1,
  kRpc = 3,
  kTabularResult = 4,
  kAttention = 6,
  kBulkLoad = 7,
  kTransactionManager = 14,
  kLogin7 = 16,
  kSspi = 17,
  kPrelogin = 18,
};

enum PacketStatus : uint8_t { kEom = 0x01, kIgnore = 0x02, kResetConnection = 0x08 };

constexpr size_t kHeaderSize = 8;

struct PacketHeader {
  uint8_t type = 0;
  uint8_t status = 0;
  uint16_t length = 0;  // including the header
  uint16_t spid = 0;
  uint8_t packet_id = 0;
  uint8_t window = 0;
};

PacketHeader decode_header(const uint8_t* p);
// Splits a message into packets of at most `packet_size` bytes; the last one
// carries EOM when `eom` is set.
Bytes packetize(uint8_t type, const Bytes& payload, size_t packet_size, uint16_t spid, bool eom,
                uint8_t& packet_id);

// Collects packets into whole messages.
class MessageAssembler {
 public:
  // Feeds one complete packet (header included). Returns true when a message
  // is complete; take it with take().
  bool add_packet(const uint8_t* packet, size_t n);
  uint8_t type() const { return type_; }
  uint8_t status() const { return status_; }
  Bytes take();

 private:
  uint8_t type_ = 0;
  uint8_t status_ = 0;
  Bytes buffer_;
  bool started_ = false;
};

// ---- TDS versions ------------------------------------------------------------

// Versions as LOGIN7 and LOGINACK carry them.
constexpr uint32_t kTds70 = 0x70000000;
constexpr uint32_t kTds71 = 0x71000001;
constexpr uint32_t kTds72 = 0x72090002;
constexpr uint32_t kTds73 = 0x730B0003;
constexpr uint32_t kTds74 = 0x74000004;

inline int tds_major_minor(uint32_t v) { return static_cast<int>(v >> 24); }  // 0x70..0x74
std::string tds_version_name(uint32_t v);                                     // "7.4"
// The version to answer with: the client's, at most `cap`.
uint32_t negotiate_version(uint32_t client, uint32_t cap);

// ---- PRELOGIN ------------------------------------------------------------------

enum PreloginOption : uint8_t {
  kPreVersion = 0,
  kPreEncryption = 1,
  kPreInstOpt = 2,
  kPreThreadId = 3,
  kPreMars = 4,
  kPreTraceId = 5,
  kPreFedAuth = 6,
  kPreNonce = 7,
  kPreTerminator = 0xFF,
};
enum Encryption : uint8_t { kEncryptOff = 0, kEncryptOn = 1, kEncryptNotSup = 2, kEncryptReq = 3 };

using PreloginOptions = std::map<uint8_t, Bytes>;
PreloginOptions parse_prelogin(const Bytes& payload);
Bytes build_prelogin(const PreloginOptions& options);
// The server's answer: version 15.0.2000, the given encryption answer, no MARS.
Bytes prelogin_response(const PreloginOptions& request, uint8_t encryption = kEncryptNotSup);

// What the server offers: no TLS at all, TLS when the client wants it (and
// for the login packet), or TLS always.
enum class ServerEncryption { NotSupported, Available, Required };
// The server's ENCRYPTION answer to the client's; nullopt when the two cannot
// agree and the server closes the connection.
std::optional<uint8_t> encryption_answer(uint8_t client, ServerEncryption server);

// ---- LOGIN7 ---------------------------------------------------------------------

struct Login7 {
  uint32_t tds_version = 0;
  uint32_t packet_size = 0;
  uint32_t client_pid = 0;
  uint8_t option_flags1 = 0, option_flags2 = 0, type_flags = 0, option_flags3 = 0;
  std::string host, user, password, app, server, library, language, database;
  bool has_extension = false;
  std::vector<uint8_t> features;  // FeatureExt ids the client asked for
  Bytes sspi;                     // the first SSPI message (Windows authentication)
};
// OptionFlags2's fIntSecurity: the client logs on with Windows authentication.
constexpr uint8_t kIntegratedSecurity = 0x80;
Login7 parse_login7(const Bytes& payload);
Bytes build_login7(const Login7& login);  // the client's side, for tests
std::string decode_password(const uint8_t* p, size_t bytes);
Bytes encode_password(const std::string& utf8);

// ---- client requests after logon --------------------------------------------------

// A SQL batch: TDS 7.2 and later put ALL_HEADERS in front of the text.
std::string parse_sql_batch(const Bytes& payload, uint32_t version);
Bytes build_sql_batch(const std::string& text, uint32_t version);

struct RpcParam {
  std::string name;                  // "@P1", may be empty
  uint8_t status = 0;                // 1: by reference (output)
  std::string type;                  // "nvarchar", "int", ...
  std::optional<std::string> value;  // text form; nullopt for NULL
};

struct RpcRequest {
  std::string proc_name;  // "sp_executesql" also when sent by number
  uint16_t proc_id = 0;   // 0 when sent by name
  uint16_t flags = 0;
  std::vector<RpcParam> params;
};
RpcRequest parse_rpc(const Bytes& payload, uint32_t version);
// Builds an RPC whose parameters are all NVARCHAR (NULL for nullopt).
Bytes build_rpc(const std::string& proc_name, uint16_t proc_id,
                const std::vector<std::pair<std::string, std::optional<std::string>>>& params,
                uint32_t version);

struct TransactionRequest {
  uint16_t type = 0;         // 5 begin, 7 commit, 8 rollback, 9 save
  bool begin_after = false;  // commit/rollback with fBeginXact
};
TransactionRequest parse_transaction_request(const Bytes& payload, uint32_t version);

// ---- server tokens ------------------------------------------------------------------

enum Token : uint8_t {
  kTokReturnStatus = 0x79,
  kTokReturnValue = 0xAC,
  kTokColMetadata = 0x81,
  kTokError = 0xAA,
  kTokInfo = 0xAB,
  kTokLoginAck = 0xAD,
  kTokFeatureExtAck = 0xAE,
  kTokRow = 0xD1,
  kTokEnvChange = 0xE3,
  kTokDone = 0xFD,
  kTokDoneProc = 0xFE,
  kTokDoneInProc = 0xFF,
  kTokSspi = 0xED,
};

enum DoneStatus : uint16_t {
  kDoneFinal = 0x00,
  kDoneMore = 0x01,
  kDoneError = 0x02,
  kDoneInXact = 0x04,
  kDoneCount = 0x10,
  kDoneAttn = 0x20,
  kDoneSrvError = 0x100,
};

enum EnvChange : uint8_t {
  kEnvDatabase = 1,
  kEnvLanguage = 2,
  kEnvCharset = 3,
  kEnvPacketSize = 4,
  kEnvCollation = 7,
  kEnvBeginTran = 8,
  kEnvCommitTran = 9,
  kEnvRollbackTran = 10,
};

// A message as the server sends it in an INFO (class <= 10) or ERROR token.
struct ServerMessage {
  int32_t number = 0;
  uint8_t state = 1;
  uint8_t cls = 0;
  std::string text;
  std::string proc;
  int32_t line = 1;
  bool is_error() const { return cls > 10; }
};

// DateTime cells are text "YYYY-MM-DD HH:MM:SS", Guid cells text
// "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx", Char and VarBinary cells their bytes.
enum class ColType {
  NVarChar,
  Int,
  BigInt,
  SmallInt,
  Numeric,
  TinyInt,
  Bit,
  DateTime,
  Guid,
  Char,
  VarBinary,
  NChar  // fixed width: values are padded with blanks
};

struct Column {
  std::string name;
  ColType type = ColType::NVarChar;
  uint16_t max_chars = 128;  // NVARCHAR, NCHAR, CHAR, VARBINARY only
  uint8_t precision = 20;    // NUMERIC only
  bool nullable = true;
};

using Cell = std::variant<std::monostate, std::string, int64_t>;  // NULL, text, number
using Row = std::vector<Cell>;

struct ResultSet {
  std::vector<Column> columns;
  std::vector<Row> rows;
};

// The server's collation for NVARCHAR columns and the ENVCHANGE after logon:
// SQL_Latin1_General_CP1_CI_AS.
extern const uint8_t kCollation[5];

// Appends tokens in the format of one TDS version.
class TokenWriter {
 public:
  explicit TokenWriter(uint32_t version) : version_(version) {}
  void set_version(uint32_t v) { version_ = v; }
  uint32_t version() const { return version_; }

  void env_string(uint8_t type, const std::string& new_value, const std::string& old_value);
  void env_bytes(uint8_t type, const Bytes& new_value, const Bytes& old_value);
  void message(const ServerMessage& m, const std::string& server_name);
  void login_ack(uint32_t tds_version, const std::string& prog_name, uint32_t prog_version);
  void done(uint8_t token, uint16_t status, uint16_t curcmd, uint64_t count);
  void return_status(int32_t value);
  // An output parameter of type int.
  void return_value(uint16_t ordinal, const std::string& name, int32_t value);
  void col_metadata(const std::vector<Column>& columns);
  void row(const std::vector<Column>& columns, const Row& row);
  void result_set(const ResultSet& rs);
  // The server's SSPI data during a Windows logon.
  void sspi(const Bytes& buffer);

  Bytes& bytes() { return out_.data; }
  bool empty() const { return out_.data.empty(); }
  Bytes take();

 private:
  bool wide() const { return version_ >= kTds72; }
  uint32_t version_;
  Writer out_;
};

// ---- token stream reader (the client's side, for tests) ------------------------------

struct ParsedToken {
  uint8_t token = 0;
  ServerMessage message;                      // INFO, ERROR
  uint8_t env_type = 0;                       // ENVCHANGE
  std::string env_new, env_old;               // string ENVCHANGEs
  uint32_t tds_version = 0;                   // LOGINACK
  std::string prog_name;                      // LOGINACK
  uint16_t done_status = 0, done_curcmd = 0;  // DONE*
  uint64_t done_count = 0;
  int32_t return_status = 0;    // RETURNSTATUS, RETURNVALUE (int)
  std::string param_name;       // RETURNVALUE
  std::vector<Column> columns;  // COLMETADATA
  Row row;                      // ROW
};
// Decodes a server token stream in the format of `version` (LOGINACK switches
// to the version it announces).
std::vector<ParsedToken> parse_tokens(const Bytes& stream, uint32_t version);

}  // namespace standin
