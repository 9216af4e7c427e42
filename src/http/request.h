// One request head as the parser fills it: the request line and the header lines,
// bytes as received. A body is never part of it.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace http {
namespace server {

struct header_field {
  std::string name;   // case kept
  std::string value;
};

struct incoming_request {
  std::string verb;
  std::string target;  // as received: not decoded, query included
  int32_t version_major = 0;
  int32_t version_minor = 0;
  std::vector<header_field> fields;  // arrival order; repeated names all kept
};

}  // namespace server
}  // namespace http
