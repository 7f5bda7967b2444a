#version 420
// The show's only shader: every pixel of every frame is a function of the time m
// and the label sheet. The build writes each window's constants in after the
// version line: PIXEL_CENTRE, PIXEL_SCALE, SAMPLE_COUNT, JITTER_DIVISOR and
// SAMPLE_WEIGHT.

uniform float m;     // seconds since the first frame, minus the title card's 2.08
uniform sampler2D v; // the label sheet; never set, so it reads texture unit 0
out vec4 f;

float reveal; // colour-reveal factor: 0 until m = 41, 1 from m = 42

// One path's state.
struct Co {
    vec3 o;  // origin of the current segment
    vec3 d;  // direction, or zero after a total internal reflection
    vec3 k;  // march point; after a hit, the hit point
    vec3 i;  // light gathered so far
    float c; // throughput
    float m; // interior phase
};

// Cosine palette, mixed through a matrix that lets channels go negative.
vec3 palette(float t) {
    return mat3(1.5, -0.2, -0.1, -0.6, 1.1, 0.2, -0.1, 0.1, 1.5) *
           (0.5 - 0.5 * cos(2.0 * t * vec3(5.2, 5.7, 7.2)));
}

// Light from a direction: nothing above, a lit floor with a fine grid below.
vec3 environment(vec3 d, float phase) {
    vec3 base = palette(0.3 + reveal * phase) * 3.0;
    float ramp = smoothstep(0.0, 1.0, -0.8 - 4.0 * d.z);
    float grid = 1.0;
    if (d.z <= -0.1)
        grid = pow(min(0.5 + 0.5 * cos(400.0 * d.x / d.z), 0.5 + 0.5 * cos(400.0 * d.y / d.z)), 0.02);
    return base * ramp * grid;
}

// Follows one path; leaves the gathered light in r.i.
void trace(inout Co r) {
    r.i += pow(1.0 - reveal, 2.0) * environment(r.d, r.m) * r.c;
}

// Jitter of sample k within the pixel, in [0, 1) on both axes.
vec2 sampleOffset(int k) {
    return fract(vec2(k * 49471, k * 37345) / exp2(16.0));
}

void main() {
    reveal = sqrt(smoothstep(0.0, 1.0, m - 41.0));
    vec2 q = (gl_FragCoord.xy - PIXEL_CENTRE) / PIXEL_SCALE;
    if (abs(q.y) > 0.42) {
        f = vec4(0);
        return;
    }
    vec3 colour = vec3(0);
    if (m >= 0.0) {
        // The camera circles the origin and cuts on the music's bars.
        int bar = int(m / 1.0448);
        float spin = 1.0;
        float heightOffset = 0.0;
        if (bar > 39 && bar < 60 && bar % 2 == 0 || bar > 59) {
            spin = -1.0;
            heightOffset = 100.0;
        }
        if (bar < 8 && bar % 2 == 0)
            spin = -1.0;
        vec3 eye = 16.0 * vec3(-sin(0.3 * spin * m), cos(0.3 * spin * m), sin(0.018 * (heightOffset + m)));
        vec3 forward = normalize(-eye);
        vec3 side = normalize(cross(forward, vec3(0, 0, -1)));
        vec3 up = normalize(cross(forward, side));
        for (int k = 0; k < SAMPLE_COUNT; k++) {
            vec2 p = q + sampleOffset(k) / JITTER_DIVISOR * 2.5;
            Co r = Co(eye, normalize(forward + 0.36397 * (-p.x * side + p.y * up)), eye, vec3(0), 1.0, 0.0);
            trace(r);
            colour += r.i / SAMPLE_WEIGHT;
        }
        colour *= pow(max(1.0 - pow(0.7 * length(q), 4.0), 0.0), 3.0);
    } else if (abs(q.y) <= 0.1) {
        // Title card: the label sheet's title strip, inverted and brightened.
        colour = 3.0 * (1.0 - texture(v, vec2(0.3 * q.x - 0.5, -0.2 * q.y + 0.09)).rgb);
    }
    colour *= 1.0 - smoothstep(0.0, 1.0, (m - 71.0) * 0.3);
    f = vec4(0.9 * pow(log(1.0 + 0.7 * max(colour + vec3(0.01, 0.01, 0.02), 0.0)), vec3(0.6)), 1);
}
