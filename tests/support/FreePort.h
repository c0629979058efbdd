#pragma once
// A TCP port on 127.0.0.1 nobody listens on at the moment of asking.

namespace pc::test {

int freeLoopbackPort();

} // namespace pc::test
