#include "http/request_dispatcher.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "http/test_switch.h"

namespace http {
namespace server {
namespace {

struct DecodeCase {
  std::string text;
  bool ok;
  std::string decoded;  // checked when ok
};

// The two bytes after "%" are read as formatted hex input: blanks and a sign in front
// pass, reading stops at the first byte that is not a hex digit.
const DecodeCase kDecodeCases[] = {
    {"", true, ""},
    {"/plain/path", true, "/plain/path"},
    {"/a+b", true, "/a b"},
    {"%41%4a%4A", true, "AJJ"},
    {"%00x", true, std::string("\0x", 2)},
    {"%ff", true, "\xFF"},
    {"%1gz", true, "\x01z"},
    {"% 1", true, "\x01"},
    {"%-1", true, "\xFF"},
    {"%+f", true, "\x0F"},
    {"%zz", false, ""},
    {"%g1", false, ""},
    {"/a%", false, ""},
    {"/a%4", false, ""},
    {"%%41", false, ""},
    {"%-", false, ""},
    {"%  ", false, ""},
};

TEST(PercentDecode, Table) {
  for (const auto& c : kDecodeCases) {
    std::string decoded = "stale";
    EXPECT_EQ(percent_decode(c.text, decoded), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(decoded, c.decoded) << c.text;
    }
  }
}

// Handlers that record their calls and answer with a status the test picks.
struct Calls {
  int32_t status = 200;
  std::vector<std::string> seen;  // "GET target" / "POST target content"
};
Calls calls;

int32_t FakeGet(const std::string& target, std::string& content_type, std::string& body, reply_deferral&) {
  calls.seen.push_back("GET " + target + (content_type.empty() && body.empty() ? "" : " (outputs not empty)"));
  content_type = "text/x-test";
  body = "B";
  return calls.status;
}

int32_t FakePost(const std::string& target, const std::string& content, std::string& content_type,
                 std::string& body) {
  calls.seen.push_back("POST " + target + " [" + content + "]");
  content_type = "text/x-test";
  body = "P";
  return calls.status;
}

const request_dispatcher kDispatcher{FakeGet, FakePost};

// Handlers here never defer, and so never call this.
struct NoDeferral : reply_deferral {
  std::weak_ptr<deferred_reply> defer(std::chrono::milliseconds, deadline_fn) override {
    ADD_FAILURE() << "deferred";
    return {};
  }
} noDeferral;

std::string Bytes(const outgoing_reply& reply) {
  std::string out;
  for (const auto& range : serialize(reply)) out.append(static_cast<const char*>(range.data()), range.size());
  return out;
}

const std::string k400 = Bytes(canned_reply(400));
const std::string k403 = Bytes(canned_reply(403));
const std::string k404 = Bytes(canned_reply(404));
const std::string k500 = Bytes(canned_reply(500));
const std::string kBare200 = Bytes(canned_reply(200));

std::string Ok(const std::string& body, const std::string& origin) {
  return "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nContent-Type: text/x-test\r\nAccess-Control-Allow-Origin: " + origin + "\r\n\r\n" + body;
}

using Fields = std::vector<header_field>;
const Fields kLocal = {{"Host", "127.0.0.1:4219"}, {"Origin", "http://localhost:8080"}};

struct DispatchCase {
  const char* what;
  std::string verb;
  std::string target;
  Fields fields;
  int32_t handler_status;
  std::string reply;
  std::vector<std::string> seen;
};

const DispatchCase kCases[] = {
    {"GET from an allowed origin", "GET", "/handshake", kLocal, 200, Ok("B", "http://localhost:8080"),
     {"GET /handshake"}},
    {"POST gets an empty content", "POST", "/killgame", kLocal, 200, Ok("P", "http://localhost:8080"),
     {"POST /killgame []"}},
    {"target reaches the handler undecoded", "GET", "/q/a+b%41?x=%20", kLocal, 200, Ok("B", "http://localhost:8080"),
     {"GET /q/a+b%41?x=%20"}},
    {"no Origin field", "GET", "/handshake", {{"Host", "x"}}, 200, k403, {}},
    {"origin in lower case is not the Origin field", "GET", "/handshake", {{"origin", "http://localhost"}}, 200, k403,
     {}},
    {"refused origin", "POST", "/killgame", {{"Origin", "http://evil.example"}}, 200, k403, {}},
    {"only the first Origin counts (refused first)", "GET", "/h",
     {{"Origin", "http://evil.example"}, {"Origin", "http://localhost"}}, 200, k403, {}},
    {"only the first Origin counts (allowed first)", "GET", "/h",
     {{"Origin", "http://127.0.0.1:9"}, {"Origin", "http://evil.example"}}, 200, Ok("B", "http://127.0.0.1:9"),
     {"GET /h"}},
    {"HEAD goes out as 500", "HEAD", "/handshake", kLocal, 200, k500, {}},
    {"PUT goes out as 500", "PUT", "/handshake", kLocal, 200, k500, {}},
    {"OPTIONS goes out as 500", "OPTIONS", "/handshake", kLocal, 200, k500, {}},
    {"lower-case get is another method", "get", "/handshake", kLocal, 200, k500, {}},
    {"other method from a refused origin", "OPTIONS", "/x", {{"Origin", "null"}}, 200, k403, {}},
    {"undecodable target before the origin", "GET", "/a%zz", {}, 200, k400, {}},
    {"target ending in %", "GET", "/a%", kLocal, 200, k400, {}},
    {"target ending in % and one byte", "POST", "/a%4", kLocal, 200, k400, {}},
    {"handler 404 gives the canned page", "GET", "/favicon.ico", kLocal, 404, k404, {"GET /favicon.ico"}},
    {"handler 400 gives the canned page", "POST", "/x", kLocal, 400, k400, {"POST /x []"}},
    {"handler 500 gives the canned page", "GET", "/x", kLocal, 500, k500, {"GET /x"}},
    {"other handler status keeps the bare 200", "GET", "/x", kLocal, 302, kBare200, {"GET /x"}},
};

TEST(Dispatch, Table) {
  ScopedSwitch off("TOVELWEBHELPER_IGNORE_ORIGIN_HEADER", nullptr);
  for (const auto& c : kCases) {
    calls = Calls{};
    calls.status = c.handler_status;
    incoming_request request;
    request.verb = c.verb;
    request.target = c.target;
    request.fields = c.fields;
    outgoing_reply reply = canned_reply(201);  // replaced completely
    reply.fields.push_back({"Stale", "x"});
    std::string allowed_origin;
    EXPECT_TRUE(kDispatcher.dispatch(request, reply, noDeferral, allowed_origin)) << c.what;
    EXPECT_EQ(Bytes(reply), c.reply) << c.what;
    EXPECT_EQ(calls.seen, c.seen) << c.what;
  }
}

// With the switch on, a request without Origin is served and names an empty origin.
TEST(Dispatch, IgnoreSwitchWithoutOrigin) {
  ScopedSwitch on("TOVELWEBHELPER_IGNORE_ORIGIN_HEADER", "1");
  calls = Calls{};
  incoming_request request;
  request.verb = "GET";
  request.target = "/handshake";
  outgoing_reply reply;
  std::string allowed_origin = "stale";
  EXPECT_TRUE(kDispatcher.dispatch(request, reply, noDeferral, allowed_origin));
  EXPECT_EQ(Bytes(reply), Ok("B", ""));
}

// A handler that answers later leaves the reply to finish(), with the origin that the
// dispatch allowed; the later answer is built exactly as an answer on return.
TEST(Dispatch, DeferredAnswerIsFinishedLikeAnImmediateOne) {
  ScopedSwitch off("TOVELWEBHELPER_IGNORE_ORIGIN_HEADER", nullptr);
  calls = Calls{};
  calls.status = kAnswerLater;
  incoming_request request;
  request.verb = "GET";
  request.target = "/q";
  request.fields = kLocal;
  outgoing_reply reply;
  std::string allowed_origin;
  EXPECT_FALSE(kDispatcher.dispatch(request, reply, noDeferral, allowed_origin));
  EXPECT_EQ(allowed_origin, "http://localhost:8080");

  struct Later {
    int32_t status;
    std::string reply;
  };
  for (const Later& c : {Later{200, Ok("late", "http://localhost:8080")}, Later{404, k404}, Later{302, kBare200}}) {
    finish(c.status, "text/x-test", "late", allowed_origin, reply);
    EXPECT_EQ(Bytes(reply), c.reply) << c.status;
  }
}

}  // namespace
}  // namespace server
}  // namespace http
