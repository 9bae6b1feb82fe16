// The connection a bridge talks to its office over: a pipe socket this
// process connected itself, after checking whose it is (the runtime's own
// connector connects to whatever sits under the name).
#pragma once

#include <memory>
#include <string>

#include <com/sun/star/connection/XConnection.hpp>
#include <cppuhelper/implbase1.hxx>

namespace pm::office {

// The connected socket of a bridge, shared by the connection and the
// watchdog: closed when both are done with it, so the watchdog can shut it
// down under a hung call without ever touching a reused descriptor.
struct BridgeSocket {
  explicit BridgeSocket(int f) : fd(f) {}
  ~BridgeSocket();
  BridgeSocket(const BridgeSocket&) = delete;
  BridgeSocket& operator=(const BridgeSocket&) = delete;
  // Ends both directions: a read blocked in the bridge's reader returns.
  void shut();
  const int fd;
};

// The UNO connection over that socket.
class SocketConnection : public ::cppu::WeakImplHelper1<css::connection::XConnection> {
 public:
  SocketConnection(std::shared_ptr<BridgeSocket> socket, std::string description)
      : socket_(std::move(socket)), description_(std::move(description)) {}

  sal_Int32 SAL_CALL read(css::uno::Sequence<sal_Int8>& data, sal_Int32 n) override;
  void SAL_CALL write(const css::uno::Sequence<sal_Int8>& data) override;
  void SAL_CALL flush() override {}
  void SAL_CALL close() override { socket_->shut(); }
  ::rtl::OUString SAL_CALL getDescription() override;

 private:
  std::shared_ptr<BridgeSocket> socket_;
  std::string description_;
};

}  // namespace pm::office
