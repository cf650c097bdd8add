/* Writes a deterministic candump trace of N frames for replay benchmarks:
 * two interfaces, 11-bit and 29-bit identifiers, 0 to 8 data bytes, a
 * frame every 250 microseconds (or every MICROS).
 *   make_trace N OUT [MICROS] */
#include <stdio.h>
#include <stdlib.h>

static unsigned long long g_state = 0x9E3779B97F4A7C15ull;

static unsigned Next(void) {
  g_state = g_state * 6364136223846793005ull + 1442695040888963407ull;
  return (unsigned)(g_state >> 33);
}

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    fprintf(stderr, "usage: make_trace N OUT [MICROS]\n");
    return 2;
  }
  unsigned long long step = argc == 4 ? strtoull(argv[3], NULL, 10) : 250;
  unsigned long long frames = strtoull(argv[1], NULL, 10);
  FILE* out = fopen(argv[2], "wb");
  if (out == NULL) {
    perror(argv[2]);
    return 1;
  }
  static char buffer[1 << 20];
  setvbuf(out, buffer, _IOFBF, sizeof buffer);
  unsigned long long micros = 1700000000ull * 1000000ull;
  for (unsigned long long i = 0; i < frames; ++i) {
    unsigned r = Next();
    unsigned length = r % 9;
    int extended = (r >> 4) % 5 == 0;
    fprintf(out, "(%llu.%06llu) can%u ", micros / 1000000ull, micros % 1000000ull, (r >> 8) & 1);
    if (extended) {
      fprintf(out, "%08X#", Next() & 0x1FFFFFFFu);
    } else {
      fprintf(out, "%03X#", Next() & 0x7FFu);
    }
    for (unsigned b = 0; b < length; ++b) fprintf(out, "%02X", Next() & 0xFFu);
    fputc('\n', out);
    micros += step;
  }
  return fclose(out) == 0 ? 0 : 1;
}
