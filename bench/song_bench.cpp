// Time of the whole song synthesis, split into the Opus decoder calls and the rest
// (packet bytes, mixing, voices). Run it by hand; it prints the machine it ran on.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <time.h>
#include <vector>

#include "song.hpp"

#include "machine.hpp"

namespace {

// Processor time of this thread: other work on the machine does not count.
double thread_seconds() {
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec * 1e-9;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

std::int16_t song[SONG_SAMPLE_COUNT];
unsigned char packets[ROLL_BYTES][PACKET_LENGTH];

// The whole synthesis as the show runs it.
double time_whole() {
    std::memset(song, 0, sizeof song);
    const double start = thread_seconds();
    synthesise_song(song);
    return thread_seconds() - start;
}

// The same 2240 decoder calls (and the 2 decoders' creation) on packets made beforehand.
double time_decoder_calls() {
    for (int i = 0; i < ROLL_BYTES; ++i) {
        packets[i][0] = 0x7B;
        packets[i][1] = 0x03;
        fill_step_payload(MUSIC_ROLL[i], packets[i]);
    }
    const double start = thread_seconds();
    for (int track = 0; track < ROLL_TRACKS; ++track) {
        OpusDecoder* decoder = opus_decoder_create(SYNTHESIS_RATE, 1, nullptr);
        for (int step = 0; step < ROLL_STEPS; ++step) {
            const int i = 2 * step + track;
            int decoded = opus_decode(decoder, packets[i], PACKET_LENGTH, DECODED_DATA, STEP_SAMPLES,
                                      MUSIC_ROLL[i] == 0);
            static_cast<void>(decoded);
        }
        const double stop = thread_seconds(); // destroying is not part of the synthesis
        opus_decoder_destroy(decoder);
        if (track == ROLL_TRACKS - 1) return stop - start;
    }
    return 0;
}

double time_packet_bytes() {
    const double start = thread_seconds();
    for (int i = 0; i < ROLL_BYTES; ++i)
        fill_step_payload(MUSIC_ROLL[i], PACKET);
    return thread_seconds() - start;
}

double time_mixing() {
    const double start = thread_seconds();
    for (int track = 0; track < ROLL_TRACKS; ++track)
        for (int step = 0; step < ROLL_STEPS; ++step)
            mix_step(song, step);
    return thread_seconds() - start;
}

double time_voices() {
    const double start = thread_seconds();
    add_voice(VOICE_A, song);
    add_voice(VOICE_B, song);
    return thread_seconds() - start;
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
    std::printf("machine: %s; libopus: %s; compiled as the show is (-Os); "
                "processor time of the thread, median of %d runs\n",
                cpu_model().c_str(), opus_get_version_string(), runs);
    std::vector<double> whole, decoder, payload, mixing, voices;
    for (int run = 0; run < runs; ++run) {
        whole.push_back(time_whole());
        decoder.push_back(time_decoder_calls());
        payload.push_back(time_packet_bytes());
        mixing.push_back(time_mixing());
        voices.push_back(time_voices());
    }
    const double total = median(whole), decoding = median(decoder);
    const double rest = median(payload) + median(mixing) + median(voices);
    std::printf("whole synthesis:           %7.1f ms\n", 1000 * total);
    std::printf("  decoder calls:           %7.1f ms (2 decoders created, 2240 packets decoded)\n",
                1000 * decoding);
    std::printf(
        "  the rest:                %7.1f ms = %.1f%% of the whole (whole less decoder calls: %.1f ms)\n",
        1000 * rest, 100 * rest / total, 1000 * (total - decoding));
    std::printf("    packet bytes:          %7.2f ms\n", 1000 * median(payload));
    std::printf("    mixing the steps:      %7.2f ms\n", 1000 * median(mixing));
    std::printf("    voices A and B:        %7.2f ms\n", 1000 * median(voices));
    std::printf("the rest is %s a tenth of the whole\n", rest < total / 10 ? "under" : "NOT under");
    return 0;
}
