// Loads the installed module by the path its package gives and writes one
// line; exits 0 when Open and Write both report success.
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

#include "buslog.h"

int main() {
  void* module = dlopen(BUSLOG_MODULE_PATH, RTLD_NOW);
  if (module == nullptr) {
    fprintf(stderr, "cannot load %s\n", BUSLOG_MODULE_PATH);
    return 1;
  }
  auto* open = reinterpret_cast<BuslogOpenFn*>(dlsym(module, "Open"));
  auto* putString = reinterpret_cast<BuslogPutStringFn*>(dlsym(module, "PutString"));
  auto* write = reinterpret_cast<BuslogWriteFn*>(dlsym(module, "Write"));
  auto* close = reinterpret_cast<BuslogCloseFn*>(dlsym(module, "Close"));
  int32_t count;
  void* cell;
  open(12, "consumer.log", &count, &cell);
  int opened = *static_cast<uint8_t*>(cell);
  putString(5, "hello", &count);
  write(0, nullptr, &count, &cell);
  int written = *static_cast<uint8_t*>(cell);
  close(0, nullptr, &count);
  dlclose(module);
  printf("Open %d, Write %d\n", opened, written);
  return opened == 0 && written == 0 ? 0 : 1;
}
