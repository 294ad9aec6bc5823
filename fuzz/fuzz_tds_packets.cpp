// The stand-in's TDS layer on what a client may send: the first byte picks
// the highest TDS version the server accepts (7.0 to 7.4, as --tds-version
// does), the rest is the byte stream of one connection. Packets are read and
// assembled as the connection does and each whole message goes to its parser:
// PRELOGIN and LOGIN7 before the logon, SQL batches, RPCs and transaction
// manager requests after it; the NTLM messages of a Windows logon (LOGIN7's
// SSPI field, SSPI messages) to the NTLM reader and the NTLMv2 check. A
// tabular result message goes to the token
// reader that the tests use for the server's answers. A ProtocolError ends
// the connection, as it does in the server.

#include <cstddef>
#include <cstdint>

#include "check.h"
#include "executor.h"
#include "ntlm.h"
#include "tds.h"

namespace {

using namespace standin;

constexpr uint32_t kCaps[] = {kTds70, kTds71, kTds72, kTds73, kTds74};

void prelogin(const Bytes& payload) {
  PreloginOptions options = parse_prelogin(payload);
  Bytes answer = prelogin_response(options);
  FUZZ_CHECK(parse_prelogin(answer).count(kPreEncryption) == 1);
  // What was read can be written back and reads the same.
  Bytes again = build_prelogin(options);
  if (again.size() <= 0xFFFF) FUZZ_CHECK(parse_prelogin(again) == options);
}

uint32_t login(const Bytes& payload, uint32_t cap) {
  Login7 l = parse_login7(payload);
  uint32_t version = negotiate_version(l.tds_version, cap);
  FUZZ_CHECK(tds_major_minor(version) >= 0x70 && tds_major_minor(version) <= tds_major_minor(cap));
  // What was read can be written back and reads the same (where the fields
  // still fit LOGIN7's 16-bit offsets).
  Bytes rebuilt = build_login7(l);
  if (rebuilt.size() > 0xFFFF) return version;
  Login7 back = parse_login7(rebuilt);
  FUZZ_CHECK(back.tds_version == l.tds_version && back.packet_size == l.packet_size);
  FUZZ_CHECK(back.host == l.host && back.user == l.user && back.password == l.password);
  FUZZ_CHECK(back.app == l.app && back.server == l.server && back.library == l.library);
  FUZZ_CHECK(back.language == l.language && back.database == l.database);
  if (auto negotiate = ntlm::parse_negotiate(l.sspi)) {
    Bytes challenge = ntlm::challenge_message(*negotiate, {}, "STANDIN", {});
    FUZZ_CHECK(challenge.size() > 56);
  }
  return version;
}

// An AUTHENTICATE message: read and checked against a password.
void sspi(const Bytes& payload) {
  auto answer = ntlm::parse_authenticate(payload);
  if (!answer) return;
  bool v2 = ntlm::response_kind(*answer) == ntlm::Response::NtlmV2;
  FUZZ_CHECK(!ntlm::verify_ntlmv2(*answer, {}, "pw") || v2);
}

void sql_batch(const Bytes& payload, uint32_t version) {
  std::string text = parse_sql_batch(payload, version);
  FUZZ_CHECK(parse_sql_batch(build_sql_batch(text, version), version) == text);
}

void rpc(const Bytes& payload, uint32_t version) {
  RpcRequest request = parse_rpc(payload, version);
  // What the server logs for it.
  nlohmann::json entry = {{"proc", request.proc_name},
                          {"statement", Executor::rpc_statement(request)},
                          {"parameters", Executor::rpc_bound_parameters(request)}};
  for (const RpcParam& p : request.params)
    entry["params"].push_back(
        {{"name", p.name}, {"type", p.type}, {"value", p.value ? *p.value : ""}});
  (void)entry.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint32_t cap = kCaps[data[0] % 5];
  const uint8_t* p = data + 1;
  size_t left = size - 1;

  MessageAssembler assembler;
  bool logged_in = false;
  uint32_t version = cap;
  try {
    while (left >= kHeaderSize) {
      PacketHeader header = decode_header(p);
      if (header.length < kHeaderSize) return 0;  // the server's "bad packet length"
      if (header.length > left) return 0;         // the client went away mid-packet
      bool complete = assembler.add_packet(p, header.length);
      p += header.length;
      left -= header.length;
      if (!complete) continue;

      const uint8_t type = assembler.type();
      const Bytes payload = assembler.take();
      if (type == kTabularResult) {
        (void)parse_tokens(payload, version);
      } else if (!logged_in && type == kPrelogin) {
        prelogin(payload);
      } else if (!logged_in && type == kLogin7) {
        version = login(payload, cap);
        logged_in = true;
      } else if (logged_in && type == kSqlBatch) {
        sql_batch(payload, version);
      } else if (logged_in && type == kRpc) {
        rpc(payload, version);
      } else if (logged_in && type == kTransactionManager) {
        (void)parse_transaction_request(payload, version);
      } else if (type == kSspi) {
        sspi(payload);
      } else if (type != kAttention) {
        return 0;  // out of turn: the server hangs up
      }
    }
  } catch (const ProtocolError&) {
  }
  return 0;
}
