#include "servers/office/BridgeConnection.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include <com/sun/star/io/IOException.hpp>

#include "servers/office/OfficeBridge.h"

namespace pm::office {

BridgeSocket::~BridgeSocket() {
  ::close(fd);
}

void BridgeSocket::shut() {
  ::shutdown(fd, SHUT_RDWR);
}

sal_Int32 SocketConnection::read(css::uno::Sequence<sal_Int8>& data, sal_Int32 n) {
  if (n < 0) throw css::io::IOException("negative read");
  if (data.getLength() != n) data.realloc(n);
  sal_Int32 got = 0;
  while (got < n) {
    ssize_t r = ::recv(socket_->fd, data.getArray() + got, static_cast<size_t>(n - got), 0);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    got += static_cast<sal_Int32>(r);
  }
  return got;
}

void SocketConnection::write(const css::uno::Sequence<sal_Int8>& data) {
  sal_Int32 done = 0;
  while (done < data.getLength()) {
    ssize_t r =
        ::send(socket_->fd, data.getConstArray() + done, static_cast<size_t>(data.getLength() - done), MSG_NOSIGNAL);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) throw css::io::IOException("the office's connection broke");
    done += static_cast<sal_Int32>(r);
  }
}

::rtl::OUString SocketConnection::getDescription() {
  return fromUtf8(description_);
}

}  // namespace pm::office
