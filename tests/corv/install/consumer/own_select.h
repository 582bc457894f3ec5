// A program's own select() code, after a library header: the C library's fd_set macros must
// still be its own.
inline bool OwnSelectReady(int fd) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(fd, &set);
  timeval none{0, 0};
  const bool ready = select(fd + 1, &set, nullptr, nullptr, &none) > 0 && FD_ISSET(fd, &set);
  FD_CLR(fd, &set);
  return ready;
}
static_assert(FD_SETSIZE == 8 * sizeof(fd_set));
