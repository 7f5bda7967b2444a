// The song for the browser edition: the show's own synthesis (song.hpp, as the
// native show uses it), compiled to WebAssembly with the decoder the song was
// made with, libopus 1.3.1. The page calls synthesise once, then reads the
// stream the native callback hands the device and the values Web Audio plays.
#include "song.hpp"

namespace {
std::int16_t song_samples[SONG_SAMPLE_COUNT];
float played_values[PLAYED_VALUE_COUNT];
bool synthesised = false;
} // namespace

#define EXPORTED(name) extern "C" __attribute__((export_name(name)))

// The whole song, then each value played as Web Audio takes it: v / 32768.
EXPORTED("synthesise") void synthesise() {
    if (synthesised) return; // the synthesis adds into silence: once only
    synthesised = true;
    synthesise_song(song_samples);
    for (long k = 0; k < PLAYED_VALUE_COUNT; ++k)
        played_values[k] = played_value(song_samples, k) / 32768.0f;
}

// The bytes the device is handed: byte 1 of the song to its end.
EXPORTED("stream") const unsigned char* stream() {
    return reinterpret_cast<const unsigned char*>(song_samples) + 1;
}
EXPORTED("stream_length") long stream_length() {
    return STREAM_BYTES;
}

EXPORTED("played") const float* played() {
    return played_values;
}
EXPORTED("played_count") long played_count() {
    return PLAYED_VALUE_COUNT;
}
EXPORTED("playback_rate") int playback_rate() {
    return PLAYBACK_RATE;
}
EXPORTED("title_card_ms") int title_card_ms() {
    return TITLE_CARD_MS;
}
