// Bytes per second of Encode, Decode and every kernel this CPU runs, beside
// OpenSSL's BF_ecb_encrypt (and libgcrypt's and nettle's Blowfish ECB, when
// built with them) over the same buffers, from 1 KiB to 64 MiB in steps of
// 4x. bench/ratio.py turns the JSON output into ratios; bench/plot.py draws
// them.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <benchmark/benchmark.h>
#include <openssl/blowfish.h>

#ifdef TARNWICK_HAVE_GCRYPT
#include <gcrypt.h>
#endif
#ifdef TARNWICK_HAVE_NETTLE
#include <nettle/blowfish.h>
#endif

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "blowfish/blowfish.h"
#include "blowfish/blowfish_kernels.h"
#include "tool/commands.h"

namespace {

constexpr std::uint8_t kKey[16] = {0x0f, 0x1e, 0x2d, 0x3c, 0x4b, 0x5a,
                                   0x69, 0x78, 0x87, 0x96, 0xa5, 0xb4,
                                   0xc3, 0xd2, 0xe1, 0xf0};

// Runs `pass` over a `size`-byte buffer into another once per iteration.
using Pass =
    std::function<void(const std::uint8_t*, std::uint8_t*, std::size_t)>;

void Measure(benchmark::State& state, const Pass& pass) {
  const auto size = static_cast<std::size_t>(state.range(0));
  std::vector<std::uint8_t> in(size, 0x6b);
  std::vector<std::uint8_t> out(size);
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    pass(in.data(), out.data(), size);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void Register(const std::string& name, const Pass& pass) {
  auto* bench = benchmark::RegisterBenchmark(
      name.c_str(), [pass](benchmark::State& state) { Measure(state, pass); });
  for (std::int64_t size = 1 << 10; size <= 1 << 26; size *= 4)
    bench->Arg(size);
  bench->Unit(benchmark::kMillisecond);
}

Pass OpenSsl(int direction) {
  static BF_KEY schedule;
  BF_set_key(&schedule, sizeof kKey, kKey);
  return
      [direction](const std::uint8_t* in, std::uint8_t* out, std::size_t size) {
        for (std::size_t i = 0; i < size; i += 8) {
          BF_ecb_encrypt(in + i, out + i, &schedule, direction);
        }
      };
}

#ifdef TARNWICK_HAVE_GCRYPT
void RegisterGcrypt() {
  gcry_check_version(nullptr);
  gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
  gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
  static gcry_cipher_hd_t handle = nullptr;
  gcry_cipher_open(&handle, GCRY_CIPHER_BLOWFISH, GCRY_CIPHER_MODE_ECB, 0);
  gcry_cipher_setkey(handle, kKey, sizeof kKey);
  Register("gcrypt_encrypt",
           [](const std::uint8_t* in, std::uint8_t* out, std::size_t size) {
             gcry_cipher_encrypt(handle, out, size, in, size);
           });
}
#endif

#ifdef TARNWICK_HAVE_NETTLE
void RegisterNettle() {
  static blowfish_ctx context;
  blowfish_set_key(&context, sizeof kKey, kKey);
  Register("nettle_encrypt",
           [](const std::uint8_t* in, std::uint8_t* out, std::size_t size) {
             blowfish_encrypt(&context, size, out, in);
           });
}
#endif

const CBlowFish& Cipher() {
  static const CBlowFish cipher = [] {
    CBlowFish keyed;
    keyed.Initialize(kKey, sizeof kKey);
    return keyed;
  }();
  return cipher;
}

void EncodePass(const std::uint8_t* in, std::uint8_t* out, std::size_t size) {
  Cipher().Encode(in, out, static_cast<std::uint32_t>(size));
}
void DecodePass(const std::uint8_t* in, std::uint8_t* out, std::size_t size) {
  Cipher().Decode(in, out, static_cast<std::uint32_t>(size));
}

// The tool's cipher stage: one or two threads, each on chunks of its own,
// as the pipeline's are; the rate is their sum.
void Stage_Encode(benchmark::State& state) { Measure(state, EncodePass); }
void Stage_Decode(benchmark::State& state) { Measure(state, DecodePass); }
BENCHMARK(Stage_Encode)
    ->Arg(tarnwick::kChunkSize)
    ->ThreadRange(1, 2)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(Stage_Decode)
    ->Arg(tarnwick::kChunkSize)
    ->ThreadRange(1, 2)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  Register("Encode", EncodePass);
  Register("Decode", DecodePass);
  Register("OpenSSL_encrypt", OpenSsl(BF_ENCRYPT));
  Register("OpenSSL_decrypt", OpenSsl(BF_DECRYPT));
#ifdef TARNWICK_HAVE_GCRYPT
  RegisterGcrypt();
#endif
#ifdef TARNWICK_HAVE_NETTLE
  RegisterNettle();
#endif
  // The kernels see arbitrary tables, so these needn't be a real schedule.
  static std::vector<std::uint32_t> tables(18 + 1024, 0x9e3779b9);
  for (const auto& kernel : tarnwick::blowfish::SupportedKernels()) {
    Register(std::string("Kernel_") + kernel.name,
             [run = kernel.run](const std::uint8_t* in, std::uint8_t* out,
                                std::size_t size) {
               run(tables.data(), tables.data() + 18, in, out, size / 8);
             });
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
