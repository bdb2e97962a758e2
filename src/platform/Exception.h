#pragma once
// The runtime's general exception: what the module raises when an operation fails
// and no more specific type is named. The toolkit's general error report shows its
// message to the operator.
//
//   throw Exception("BufferLen is 0");
#include <stdexcept>
#include <string>

class Exception : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
