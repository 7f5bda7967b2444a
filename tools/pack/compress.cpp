// The packer's compressor: context mixing as described in context_mixing.hpp.
//
//   korvatine_compress compress MODEL IMAGE PAYLOAD INCLUDE
//       compresses IMAGE, checks that the reference decoder gives it back, writes
//       the payload and the stub's assembler include (the model, the image's size and
//       checksum, and the stub's memory and hash from context_mixing.hpp)
//   korvatine_compress decode MODEL PAYLOAD SIZE OUT
//       the reference decoder alone
//   korvatine_compress size MODEL IMAGE...
//       the compressed size of each image (for the packer's breakdown)
//   korvatine_compress search MODEL IMAGE... [--rounds N]
//       searches a model for the images, starting from MODEL, and writes the best
//       found back to MODEL after every improvement (slow: run by hand)
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>

#include "context_mixing.hpp"
#include "tools/command_line.hpp"

namespace {

using context_mixing::Model;
using Bytes = std::vector<std::uint8_t>;

[[noreturn]] void die(const std::string& message) {
    std::fprintf(stderr, "korvatine_compress: %s\n", message.c_str());
    std::exit(1);
}

int usage_error(const std::string& problem) {
    std::fprintf(stderr,
                 "korvatine_compress: %s\nusage: korvatine_compress compress MODEL IMAGE PAYLOAD INCLUDE | "
                 "decode MODEL "
                 "PAYLOAD SIZE OUT | size MODEL IMAGE... | search MODEL IMAGE... [--rounds N]\n",
                 problem.c_str());
    return 2;
}

Bytes read_file(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) die("cannot read " + path);
    return Bytes(std::istreambuf_iterator<char>(file), {});
}

void write_file(const std::string& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary);
    file << text;
    if (!file) die("cannot write " + path);
}

// The model file: "delta D", "eta E" and "masks M..." lines (masks in hex,
// stride in the high byte); '#' starts a comment.
Model read_model(const std::string& path) {
    std::ifstream file(path);
    if (!file) die("cannot read " + path);
    Model model{0.2f, 0.005f, {}};
    std::string line;
    while (std::getline(file, line)) {
        std::istringstream words(line.substr(0, line.find('#')));
        std::string key;
        if (!(words >> key)) continue;
        if (key == "delta")
            words >> model.delta;
        else if (key == "eta")
            words >> model.eta;
        else if (key == "masks")
            for (std::string mask; words >> mask;)
                model.masks.push_back(static_cast<std::uint16_t>(std::stoul(mask, nullptr, 16)));
        else
            die(path + ": unknown line: " + line);
    }
    if (model.masks.empty() || model.masks.size() > context_mixing::MAX_MODELS)
        die(path + ": between 1 and " + std::to_string(context_mixing::MAX_MODELS) + " masks needed");
    return model;
}

std::string model_text(const Model& model, const std::string& header) {
    char number[64];
    std::string text = header;
    std::snprintf(number, sizeof number, "delta %.9g\neta %.9g\nmasks", model.delta, model.eta);
    text += number;
    for (std::uint16_t mask : model.masks) {
        std::snprintf(number, sizeof number, " %04x", mask);
        text += number;
    }
    return text + "\n";
}

std::uint32_t float_bits(float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// The stub's assembler include: the model and the image's size and checksum,
// and the stub's memory and hash as context_mixing.hpp sets them.
std::string stub_include(const Model& model, const Bytes& image, const std::string& source) {
    std::string include = "# Written by korvatine_compress from " + source + ".\n";
    char line[128];
    auto set = [&](const char* name, unsigned long value) {
        std::snprintf(line, sizeof line, "        .set %s, 0x%lx\n", name, value);
        include += line;
    };
    set("MODEL_COUNT", model.masks.size());
    set("IMAGE_SIZE", image.size());
    set("CHECKSUM", context_mixing::checksum(image));
    set("DELTA_BITS", float_bits(model.delta));
    set("ETA_BITS", float_bits(model.eta));
    set("TABLE", context_mixing::TABLE);
    set("TABLE_BIT", __builtin_ctz(context_mixing::TABLE));
    set("TABLE_END", context_mixing::TABLE_END);
    set("RECORDS", context_mixing::RECORDS_END);
    set("HASH_MULTIPLIER", context_mixing::K1);
    include += "        .macro MODEL_MASKS\n        .short ";
    for (std::size_t i = 0; i < model.masks.size(); ++i) {
        std::snprintf(line, sizeof line, "%s0x%04x", i ? ", " : "", model.masks[i]);
        include += line;
    }
    return include + "\n        .endm\n";
}

int compress(const std::string& model_path, const std::string& image_path, const std::string& payload_path,
             const std::string& include_path) {
    const Model model = read_model(model_path);
    const Bytes image = read_file(image_path);
    const Bytes payload = context_mixing::encode(image, model);
    if (context_mixing::decode(payload, model, image.size()) != image)
        die("the reference decoder does not give " + image_path + " back");
    write_file(payload_path, std::string(payload.begin(), payload.end()));
    write_file(include_path, stub_include(model, image, model_path + " and " + image_path));
    std::printf("%zu\n", payload.size());
    return 0;
}

std::size_t total_size(const Model& model, const std::vector<Bytes>& images) {
    std::size_t total = 0;
    for (const Bytes& image : images)
        total += context_mixing::encode(image, model).size();
    return total;
}

// Greedy search: each round tries every candidate change (a mask added, one
// removed, one replaced by a neighbour, delta or eta scaled) and keeps the best.
int search(const std::string& model_path, const std::vector<Bytes>& images, int rounds) {
    Model best = read_model(model_path);
    std::size_t best_size = total_size(best, images);
    std::printf("start: %zu bytes\n", best_size);
    std::vector<std::uint16_t> strides_and_masks;
    for (int stride : {1, 2, 4, 8, 16, 32})
        for (int mask = 0; mask < 256; ++mask)
            if (stride == 1 || __builtin_popcount(mask) <= 3)
                strides_and_masks.push_back(static_cast<std::uint16_t>(stride << 8 | mask));
    for (int round = 0; round < rounds; ++round) {
        std::vector<Model> candidates;
        for (std::uint16_t mask : strides_and_masks)
            if (best.masks.size() < context_mixing::MAX_MODELS &&
                std::find(best.masks.begin(), best.masks.end(), mask) == best.masks.end()) {
                candidates.push_back(best);
                candidates.back().masks.push_back(mask);
            }
        for (std::size_t i = 0; i < best.masks.size() && best.masks.size() > 1; ++i) {
            candidates.push_back(best);
            candidates.back().masks.erase(candidates.back().masks.begin() + i);
            for (int bit = 0; bit < 8; ++bit) {
                candidates.push_back(best);
                candidates.back().masks[i] ^= static_cast<std::uint16_t>(1 << bit);
            }
        }
        for (float factor : {0.8f, 0.9f, 1.1f, 1.25f}) {
            candidates.push_back(best);
            candidates.back().delta *= factor;
            candidates.push_back(best);
            candidates.back().eta *= factor;
        }
        std::vector<std::size_t> sizes(candidates.size());
        std::atomic<std::size_t> next{0};
        std::vector<std::thread> workers;
        for (unsigned t = 0; t < std::max(1u, std::thread::hardware_concurrency()); ++t)
            workers.emplace_back([&] {
                for (std::size_t i; (i = next++) < candidates.size();)
                    sizes[i] = total_size(candidates[i], images);
            });
        for (auto& worker : workers)
            worker.join();
        const std::size_t winner = std::min_element(sizes.begin(), sizes.end()) - sizes.begin();
        if (sizes[winner] >= best_size) break;
        best = candidates[winner];
        best_size = sizes[winner];
        std::printf("round %d: %zu bytes\n", round + 1, best_size);
        std::fflush(stdout);
        write_file(model_path, model_text(best, "# The packer's model, found by korvatine_compress search: "
                                                "mask bytes in hex, the stride in the high byte.\n"));
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage_error("no command given");
    const std::string command = argv[1];
    std::vector<ToolOption> options;
    if (command == "search") options.push_back({"rounds", true});
    const CommandLine command_line(argc - 1, argv + 1, options, true);
    if (!command_line.problem().empty()) return usage_error(command_line.problem());
    const std::vector<std::string>& operands = command_line.operands();
    if (command == "compress" && operands.size() == 4)
        return compress(operands[0], operands[1], operands[2], operands[3]);
    if (command == "decode" && operands.size() == 4) {
        const Bytes image =
            context_mixing::decode(read_file(operands[1]), read_model(operands[0]), std::stoul(operands[2]));
        write_file(operands[3], std::string(image.begin(), image.end()));
        return 0;
    }
    if (command == "size" && operands.size() >= 2) {
        const Model model = read_model(operands[0]);
        for (std::size_t i = 1; i < operands.size(); ++i)
            std::printf("%zu\n", context_mixing::encode(read_file(operands[i]), model).size());
        return 0;
    }
    if (command == "search" && operands.size() >= 2) {
        const std::string rounds = command_line.has("rounds") ? command_line.value("rounds") : "100";
        if (rounds.empty() || rounds.find_first_not_of("0123456789") != std::string::npos)
            return usage_error("--rounds takes a number of rounds");
        std::vector<Bytes> images;
        for (std::size_t i = 1; i < operands.size(); ++i)
            images.push_back(read_file(operands[i]));
        return search(operands[0], images, std::stoi(rounds));
    }
    return usage_error(command == "compress" || command == "decode" || command == "size" ||
                               command == "search"
                           ? "wrong number of arguments for " + command
                           : "unknown command '" + command + "'");
}
