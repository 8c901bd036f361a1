#include <cstdio>
int main(int argc, char** argv) {
  // placeholder: writes empty archives
  if (argc == 6) for (int i = 4; i < 6; ++i) { FILE* f = std::fopen(argv[i], "wb"); const unsigned char z[4] = {0,0,0,0}; std::fwrite(z, 1, 4, f); std::fclose(f); }
  return 0;
}
