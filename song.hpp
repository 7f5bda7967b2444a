// The song, made at start-up: a roll of seed bytes turned into pseudo-random Opus
// packets, decoded by an ordinary Opus decoder, plus two integer triangle-wave voices.
// Pure code: no SDL, no GL, no heap of its own; the roll is built at compile time.
#pragma once
#include <array>
#include <cstdint>
#include <opus/opus.h>

// Positions are sample indices at the synthesis rate; the song is played at 44100 Hz.
constexpr int SYNTHESIS_RATE = 48000;
constexpr int PLAYBACK_RATE = 44100;
constexpr int STEP_SAMPLES = 2880; // one 60 ms packet
constexpr int BAR_STEPS = 16;
constexpr int BAR_SAMPLES = BAR_STEPS * STEP_SAMPLES;
constexpr int ROLL_BARS = 70;
constexpr int ROLL_STEPS = ROLL_BARS * BAR_STEPS;
constexpr int ROLL_TRACKS = 2;
constexpr int ROLL_BYTES = ROLL_STEPS * ROLL_TRACKS;
constexpr int SONG_BODY_SAMPLES = ROLL_STEPS * STEP_SAMPLES; // where the roll ends
constexpr int SONG_SAMPLE_COUNT = SONG_BODY_SAMPLES + 7 * BAR_SAMPLES / 2;
constexpr int SONG_PLAY_MS = SONG_SAMPLE_COUNT * 1000LL / PLAYBACK_RATE;
// How much later than the song's end the show still ends on the clock when
// the sound device stops calling back: more than a late device falls behind
// (start-up latency and the dropouts of a loaded machine, well under a second).
constexpr int LOST_SOUND_MARGIN_MS = 4000;
constexpr double SONG_SECONDS = double(SONG_SAMPLE_COUNT) / PLAYBACK_RATE; // as played: 76.8
constexpr long SONG_BYTES = 2L * SONG_SAMPLE_COUNT;
static_assert(SONG_SAMPLE_COUNT == 3386880 &&
              1LL * SONG_PLAY_MS * PLAYBACK_RATE == SONG_SAMPLE_COUNT * 1000LL);

// ---------------------------------------------------------------------------------
// The score. Each row lists the bars it plays and, per track, the non-zero steps of
// such a bar as step:seed (step 0 to 15 within the bar); "-" is an empty bar. Every
// bar from 0 to 69 stands in exactly one row. Each seed is one fixed sound.
struct ScoreRow {
    const char* bars;
    const char* track0;
    const char* track1;
};

// clang-format off
constexpr ScoreRow SCORE[] = {
    // bars                          track 0                               track 1
    {"0 1 39 41",                    "-",                                  "-"},
    {"2 4 6 8 62 64 66 68",          "0:160",                              "0:225"},
    {"3 5 7 9 38 40 63 65 67 69",    "0:160",                              "-"},
    {"10 12 18 20 26 28",            "0:160 8:252",                        "0:225"},
    {"11 13 19 21",                  "0:160 8:252",                        "8:24"},
    {"14 16",                        "0:160 8:252 12:80",                  "0:225"},
    {"15 17",                        "0:160 8:252 12:80",                  "8:24 12:80"},
    {"22 24",                        "0:160 4:112 8:252",                  "0:225"},
    {"23 25",                        "0:160 4:112 8:252",                  "4:80 8:24"},
    {"27",                           "0:160 8:252",                        "8:24 12:196"},
    {"29",                           "0:160 8:252 14:196",                 "8:24 12:196"},
    {"30 32 34 36",                  "0:160 4:112 8:252 12:80",            "0:225"},
    {"31 35",                        "0:160 4:112 8:252 12:252",           "4:80 8:24"},
    {"33 37",                        "0:160 4:112 8:252 12:252 14:196",    "4:80 8:24 12:196"},
    {"42 44 46 48 50 52",            "0:196 2:177 4:112 6:177 8:252",      "0:225 4:177"},
    {"43 45 47 51",                  "0:160 2:177 4:112 6:177 8:252",      "4:177 8:24"},
    {"49 53",                        "0:160 2:177 4:112 6:177 8:252 12:196", "4:177 8:24 14:196"},
    {"54 56",                        "0:200 2:177 4:112 6:177 8:24 12:24", "0:225 4:177"},
    {"55 57",                        "0:160 2:177 4:112 6:177 8:252 12:48", "4:177 8:24"},
    {"58 60",                        "0:200 2:177 4:112 6:177 8:24 12:24", "0:225 2:48 4:177"},
    {"59 61",                        "0:200 2:177 4:112 6:177 8:252 12:48", "4:177 8:24"},
};
// clang-format on

// Not constexpr on purpose: reaching one while building the roll stops the compile
// with the function's name as the message.
inline void score_text_is_malformed() {}
inline void score_bar_is_not_in_exactly_one_row() {}

consteval bool score_list_ended(const char* text, int& at) {
    if (text[0] == '-' && text[1] == 0) return true; // an empty bar
    while (text[at] == ' ')
        ++at;
    return text[at] == 0;
}

consteval int read_score_number(const char* text, int& at, int limit) {
    if (text[at] < '0' || text[at] > '9') score_text_is_malformed();
    int value = 0;
    while (text[at] >= '0' && text[at] <= '9')
        value = value * 10 + (text[at++] - '0');
    if (value >= limit) score_text_is_malformed();
    return value;
}

// The roll as played: the seed of track t at step s is byte 2s + t.
consteval std::array<unsigned char, ROLL_BYTES> make_music_roll() {
    std::array<unsigned char, ROLL_BYTES> roll{};
    int rows_of_bar[ROLL_BARS] = {};
    for (const ScoreRow& row : SCORE) {
        for (int at = 0; !score_list_ended(row.bars, at);) {
            int bar = read_score_number(row.bars, at, ROLL_BARS);
            ++rows_of_bar[bar];
            const char* tracks[ROLL_TRACKS] = {row.track0, row.track1};
            for (int track = 0; track < ROLL_TRACKS; ++track) {
                const char* notes = tracks[track];
                for (int note = 0; !score_list_ended(notes, note);) {
                    int step = read_score_number(notes, note, BAR_STEPS);
                    if (notes[note++] != ':') score_text_is_malformed();
                    int seed = read_score_number(notes, note, 256);
                    if (seed == 0) score_text_is_malformed(); // 0 is the empty step
                    roll[2 * (bar * BAR_STEPS + step) + track] = static_cast<unsigned char>(seed);
                }
            }
        }
    }
    for (int count : rows_of_bar)
        if (count != 1) score_bar_is_not_in_exactly_one_row();
    return roll;
}

constexpr std::array<unsigned char, ROLL_BYTES> MUSIC_ROLL = make_music_roll();

consteval int empty_steps_of_track(int track) {
    int empty = 0;
    for (int step = 0; step < ROLL_STEPS; ++step)
        empty += MUSIC_ROLL[2 * step + track] == 0;
    return empty;
}
static_assert(empty_steps_of_track(0) == 909 && empty_steps_of_track(1) == 1028);
static_assert(MUSIC_ROLL[63] == 0 && MUSIC_ROLL[64] == 160 && MUSIC_ROLL[65] == 225);

// ---------------------------------------------------------------------------------
// Opus steps. Every packet is a table-of-contents byte (hybrid, full band, 20 ms,
// mono, several frames), a frame-count byte (constant bit rate, 3 frames) and 123
// payload bytes made from the step's seed: 3 frames of 41 bytes, 60 ms in all.
constexpr int PACKET_LENGTH = 125;
constexpr int STEP_GAIN = 3;

// The last byte is never part of a packet. The header is written with every step,
// which costs the program fewer bytes than initialised data.
static unsigned char PACKET[PACKET_LENGTH + 1];
static opus_int16 DECODED_DATA[STEP_SAMPLES];

// An xorshift with an increment before each round, so that seed 0 gives bytes too.
constexpr void fill_step_payload(std::uint32_t seed, unsigned char* packet) {
    std::uint32_t x = seed;
    for (int j = 2; j < PACKET_LENGTH; ++j) {
        ++x;
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        packet[j] = static_cast<unsigned char>(x);
    }
}

// Seed 0, the empty step, asks for forward error correction: the decoder conceals,
// continuing from the track's previous output.
inline void decode_step(OpusDecoder* decoder, unsigned char seed) {
    PACKET[0] = 0x7B; // configuration 15, mono, several frames
    PACKET[1] = 0x03; // constant bit rate, no padding, 3 frames
    fill_step_payload(seed, PACKET);
    // Every packet is well formed by construction: each call decodes a full step.
    int decoded = opus_decode(decoder, PACKET, PACKET_LENGTH, DECODED_DATA, STEP_SAMPLES, seed == 0);
    static_cast<void>(decoded);
}

// 16-bit sums wrap, never clamp. One plain loop: the decoder's time dwarfs it.
inline void mix_step(std::int16_t* song, int step) {
    std::int16_t* out = song + step * STEP_SAMPLES;
    for (int k = 0; k < STEP_SAMPLES; ++k)
        out[k] = static_cast<std::int16_t>(out[k] + DECODED_DATA[k] * STEP_GAIN);
}

// One fresh decoder per track: its state carries from step to step within the track.
inline void add_roll_track(int track, std::int16_t* song) {
    OpusDecoder* decoder = opus_decoder_create(SYNTHESIS_RATE, 1, nullptr);
    for (int step = 0; step < ROLL_STEPS; ++step) {
        decode_step(decoder, MUSIC_ROLL[2 * step + track]);
        mix_step(song, step);
    }
}

// ---------------------------------------------------------------------------------
// Overlay voices: a triangle oscillator under a triangle envelope, its phase wobbled
// by a fast triangle. 32-bit integers throughout, division truncating toward zero.
struct Voice {
    int first_sample, last_sample;
    int wobble_period, wobble_half, wobble_peak, wobble_multiplier, wobble_divisor;
    int phase_offset;
    int envelope_period, envelope_half, envelope_peak;
    int oscillator_period, oscillator_half, oscillator_peak;
    int output_divisor;
};

// clang-format off
// A low voice with a four-bar swell, from bar 9.5 to the end of the song.
constexpr Voice VOICE_A = {437760, SONG_SAMPLE_COUNT - 1,
                           400, 200, 100, 300, 200, 66240, 184320, 92160, 20000, 1200, 600, 300, 600};
// A short rising voice leading into bar 42.
constexpr Voice VOICE_B = {1906560, 42 * BAR_SAMPLES - 1,
                           40, 20, 10, 60, 20, 63360, 92160, 46080, 10000, 240, 120, 60, 120};
// clang-format on

constexpr int absolute(int value) {
    return value < 0 ? -value : value;
}

// The voice's value at sample n, straight from its definition.
constexpr int voice_value(const Voice& voice, int n) {
    int wobble = voice.wobble_peak - absolute(n % voice.wobble_period - voice.wobble_half);
    int phase = n - voice.phase_offset + wobble * voice.wobble_multiplier / voice.wobble_divisor;
    int envelope = (voice.envelope_half - absolute(phase % voice.envelope_period - voice.envelope_half)) *
                   voice.envelope_peak / voice.envelope_half;
    int oscillator =
        voice.oscillator_peak - absolute(phase % voice.oscillator_period - voice.oscillator_half);
    return oscillator * envelope / voice.output_divisor;
}

inline void add_voice(const Voice& voice, std::int16_t* song) {
    for (int n = voice.first_sample; n <= voice.last_sample; ++n)
        song[n] = static_cast<std::int16_t>(song[n] + voice_value(voice, n));
}

// The whole song, added into SONG_SAMPLE_COUNT samples that must hold zeros.
inline void synthesise_song(std::int16_t* song) {
    add_roll_track(0, song);
    add_roll_track(1, song);
    add_voice(VOICE_A, song);
    add_voice(VOICE_B, song);
}

// ---------------------------------------------------------------------------------
// The song as played. The device is handed the song's bytes (little-endian
// samples) from byte 1 on, read as big-endian pairs: value k is the high byte
// of sample k over the low byte of sample k + 1, the song within 1/128 of full
// scale. The request of device buffers in which the song's end falls is never
// played, so the last value heard is the last of a whole buffer.
constexpr long STREAM_BYTES = SONG_BYTES - 1;
constexpr int DEVICE_BUFFER_SAMPLES = 1024;
constexpr long PLAYED_VALUE_COUNT = STREAM_BYTES / (2 * DEVICE_BUFFER_SAMPLES) * DEVICE_BUFFER_SAMPLES;
// The picture shows the title card while the first 2.08 s of the sound play:
// the shader's m is the seconds played less this.
constexpr int TITLE_CARD_MS = 2080;

constexpr std::int16_t played_value(const std::int16_t* song, long k) {
    return static_cast<std::int16_t>((song[k] & 0xFF00) | (song[k + 1] & 0xFF));
}
