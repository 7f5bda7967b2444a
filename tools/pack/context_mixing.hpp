// The packed program's compression: context mixing, bit by bit, with a binary
// arithmetic coder. This is the one description of the model that both the
// packer's encoder and the reference decoder below use; the stub's decoder
// (stub.S) computes the very same numbers instruction for instruction:
//
// - Each byte is coded high bit first. Before a byte, c0 = 1; after each bit,
//   c0 = 2 c0 + bit, so c0 holds the bits seen so far under a leading 1.
// - Each model has a mask byte and a stride byte. Its context hash starts from
//   its record's address and walks back from the current byte one stride at a
//   time, once per mask bit from the lowest: where the bit is set, the byte
//   there is added to the hash's low byte; every step multiplies by K1. The
//   hash's top 24 bits, exclusive-or c0, pick a pair of 16-bit counters
//   (zeros seen, ones seen) in a table of 2^24 pairs.
// - A model's input is s = lg((n1 + delta) / (n0 + delta)), where lg is the
//   piecewise linear base-2 logarithm (exponent plus mantissa minus one). The
//   mixer's sum x = sum of w s gives t = 2^x, again piecewise linear
//   (2^floor(x) (1 + x - floor(x))), and p = t / (1 + t) is the probability of
//   a one.
// - The coder's range lies in [2^24, 2^32) before each bit; the split is
//   bound = floor(range p) | 1, so each side keeps at least 1. A one is the
//   lower part: code < bound.
// - After the bit, each weight moves by eta (bit - p) s, and each model's
//   counter pair adds one to the bit's count and roughly halves the other's
//   (n -> n / 2 + 1, 0 stays 0). The stub does these when it reaches the
//   model again for the next bit; the order of operations is the same.
// All arithmetic on fractions is x87 extended precision rounded downwards,
// stored as float where the stub stores a float, so the results are the same
// on every x86-64 processor: only +, -, *, /, and exact operations are used.
#pragma once

#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace context_mixing {

// The stub's memory and hash, written into its include (model.s) by the compressor.
constexpr std::uint32_t TABLE = 0x4000000; // the counters' address in the stub
constexpr std::uint32_t TABLE_BITS = 24;   // 2^24 pairs of 16-bit counters
constexpr std::uint32_t TABLE_END = TABLE + (std::uint32_t(4) << TABLE_BITS);
constexpr std::uint32_t RECORDS_END = 0x13000; // the models' weights, inputs and counter addresses end here
constexpr std::uint32_t K1 = 0x2F0F3A55;
// A counter's address with TABLE's one bit set is still itself, and a model
// with no address yet gets the table's first pair (the stub sets that bit).
static_assert((TABLE & (TABLE - 1)) == 0 && TABLE >= TABLE_END - TABLE);
// The stub steps through the records with their address's low byte alone.
static_assert(RECORDS_END % 256 == 0);
constexpr int HISTORY = 2048; // zero bytes before the image: a stride of 255 reaches 2040 back
constexpr int MAX_MODELS = 15;

struct Model {
    float delta;
    float eta;
    std::vector<std::uint16_t> masks; // low byte: which steps back; high byte: the stride
};

// The piecewise linear base-2 logarithm of y > 0: e + m - 1 for y = m 2^e, 1 <= m < 2.
inline long double linear_log2(long double y) {
    const int e = std::ilogb(y);
    const long double m = std::scalbn(y, -e);
    return static_cast<long double>(e) + (m - 1.0L);
}

// The models' state: what the stub keeps in its zeroed memory.
class Predictor {
  public:
    explicit Predictor(const Model& model, std::size_t image_size)
        : model_(model), counters_(std::size_t(2) << TABLE_BITS, 0), memory_(HISTORY + image_size + 1, 0),
          weights_(model.masks.size(), 0.0f), inputs_(model.masks.size(), 0.0f),
          addresses_(model.masks.size(), 0) {
        memory_[HISTORY] = 1; // c0
    }

    // The probability of a one for the next bit of byte `position`.
    long double predict(std::size_t position) {
        const std::size_t n = model_.masks.size();
        const long double delta = model_.delta;
        long double x = 0;
        for (std::size_t i = 0; i < n; ++i) {
            // What the previous bit taught this model.
            std::uint32_t counter = (addresses_[i] | TABLE) + 2 * last_bit_;
            ++at(counter);
            counter ^= 2;
            at(counter) = static_cast<std::uint16_t>((at(counter) >> 1) + (at(counter) != 0));
            weights_[i] = static_cast<float>(static_cast<long double>(inputs_[i]) * error_ + weights_[i]);
            // This bit's context.
            const std::uint8_t stride = model_.masks[i] >> 8;
            std::uint8_t mask = model_.masks[i] & 0xff;
            std::uint32_t hash =
                RECORDS_END - 4 * static_cast<std::uint32_t>(n) + 4 * static_cast<std::uint32_t>(i);
            std::size_t back = HISTORY + position;
            do {
                back -= stride;
                if (mask & 1) hash = (hash & ~0xffu) | ((hash + memory_[back]) & 0xff);
                mask >>= 1;
                hash *= K1;
            } while (mask);
            hash = (hash >> (32 - TABLE_BITS)) ^ memory_[HISTORY + position];
            addresses_[i] = TABLE + 4 * hash;
            const long double ones = at(addresses_[i] + 2) + delta, zeros = at(addresses_[i]) + delta;
            const long double input = linear_log2(ones / zeros);
            inputs_[i] = static_cast<float>(input);
            x = x + input * weights_[i];
        }
        const long double whole = std::floor(x);
        const long double t = std::scalbn(1.0L + (x - whole), static_cast<int>(whole));
        return t / (1.0L + t);
    }

    void learn(std::size_t position, int bit, long double p) {
        error_ = (static_cast<long double>(bit) - p) * static_cast<long double>(model_.eta);
        last_bit_ = static_cast<std::uint32_t>(bit);
        std::uint8_t& c0 = memory_[HISTORY + position];
        const bool byte_done = c0 & 0x80;
        c0 = static_cast<std::uint8_t>(c0 << 1 | bit);
        if (byte_done && HISTORY + position + 1 < memory_.size()) memory_[HISTORY + position + 1] = 1;
    }

  private:
    std::uint16_t& at(std::uint32_t address) { return counters_[(address - TABLE) / 2]; }

    const Model& model_;
    std::vector<std::uint16_t> counters_;
    std::vector<std::uint8_t> memory_; // HISTORY zeros, then the image as it is decoded
    std::vector<float> weights_, inputs_;
    std::vector<std::uint32_t> addresses_;
    long double error_ = 0; // eta (bit - p) of the previous bit
    std::uint32_t last_bit_ = 0;
};

// The split of the range for a one of probability p. Both sides keep at least
// 1: p < 1, and range p is rounded down, so the floor is below range; an odd
// bound is at least 1 and still below range.
inline std::uint32_t split(std::uint32_t range, long double p) {
    const long double scaled = static_cast<long double>(range) * p;
    return static_cast<std::uint32_t>(static_cast<std::int64_t>(std::floor(scaled))) | 1;
}

// The checksum the stub compares before running the image.
inline std::uint32_t checksum(const std::vector<std::uint8_t>& image) {
    std::uint32_t sum = 0;
    for (std::uint8_t byte : image) {
        sum += byte;
        sum = sum << 5 | sum >> 27;
    }
    return sum;
}

// x87 arithmetic rounded downwards while it lives, as the stub sets it.
class RoundingDown {
  public:
    RoundingDown() : previous_(std::fegetround()) { std::fesetround(FE_DOWNWARD); }
    ~RoundingDown() { std::fesetround(previous_); }
    RoundingDown(const RoundingDown&) = delete;
    RoundingDown& operator=(const RoundingDown&) = delete;

  private:
    int previous_;
};

// The compressed bytes of image under model. Bytes the decoder would read past
// the end are zero in the stub's memory, so trailing zeros are left out.
inline std::vector<std::uint8_t> encode(const std::vector<std::uint8_t>& image, const Model& model) {
    RoundingDown rounding;
    Predictor predictor(model, image.size());
    std::vector<std::uint8_t> out;
    std::uint64_t low = 0;
    std::uint32_t range = 1;
    std::uint8_t cache = 0;
    std::uint64_t pending = 1; // the cached byte and the 0xff bytes after it
    auto shift_low = [&] {
        if (static_cast<std::uint32_t>(low) < 0xff000000u || (low >> 32) != 0) {
            const std::uint8_t carry = static_cast<std::uint8_t>(low >> 32);
            for (std::uint8_t byte = cache; pending; byte = 0xff, --pending)
                out.push_back(static_cast<std::uint8_t>(byte + carry));
            cache = static_cast<std::uint8_t>(low >> 24);
        }
        ++pending;
        low = (low & 0x00ffffffu) << 8;
    };
    for (std::size_t position = 0; position < image.size(); ++position)
        for (int b = 7; b >= 0; --b) {
            while (range < (1u << 24)) {
                range <<= 8;
                shift_low();
            }
            const int bit = image[position] >> b & 1;
            const long double p = predictor.predict(position);
            const std::uint32_t bound = split(range, p);
            if (bit) {
                range = bound;
            } else {
                low += bound;
                range -= bound;
            }
            predictor.learn(position, bit, p);
        }
    // Any value in [low, low + range) decodes the same: the one with the most
    // trailing zero bits, which need not be stored.
    for (int bits = 32; bits > 0; --bits) {
        const std::uint64_t value = (low + range - 1) >> bits << bits;
        if (value >= low) {
            low = value;
            break;
        }
    }
    for (int i = 0; i < 5; ++i)
        shift_low();
    // The coder starts with a range of 1 in a window of 4 bytes: its first 4
    // bytes, after the byte it holds back for a carry, are always 0, and the
    // decoder starts past them.
    out.erase(out.begin(), out.begin() + 5);
    while (!out.empty() && out.back() == 0)
        out.pop_back();
    return out;
}

// The reference decoder: what the stub does, in C++.
inline std::vector<std::uint8_t> decode(const std::vector<std::uint8_t>& payload, const Model& model,
                                        std::size_t image_size) {
    RoundingDown rounding;
    Predictor predictor(model, image_size);
    std::vector<std::uint8_t> image(image_size);
    std::size_t read = 0;
    std::uint32_t range = 1, code = 0;
    for (std::size_t position = 0; position < image_size; ++position) {
        int byte = 0;
        for (int b = 7; b >= 0; --b) {
            while (range < (1u << 24)) {
                range <<= 8;
                code = code << 8 | (read < payload.size() ? payload[read] : 0);
                ++read;
            }
            const long double p = predictor.predict(position);
            const std::uint32_t bound = split(range, p);
            const int bit = code < bound;
            if (bit) {
                range = bound;
            } else {
                code -= bound;
                range -= bound;
            }
            predictor.learn(position, bit, p);
            byte = byte << 1 | bit;
        }
        image[position] = static_cast<std::uint8_t>(byte);
    }
    return image;
}

} // namespace context_mixing
