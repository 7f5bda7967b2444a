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

// Distance from p to the segment a-b.
float segmentDistance(vec2 p, vec2 a, vec2 b) {
    vec2 u = p - a, e = b - a;
    return length(u - e * clamp(dot(u, e) / dot(e, e), 0.0, 1.0));
}

// Cross product of (a - b) and (p - b): positive when p lies left of the
// directed line from b to a, negative to its right.
float edgeSide(vec2 p, vec2 a, vec2 b) {
    return dot(p - b, vec2(b.y - a.y, a.x - b.x));
}

// Signed distance to the region bounded by the sides a-b, b-c and d-a,
// negative inside (right of all three sides); a triangle has d = c. The sign
// is set by an if: as a conditional expression (?:) here, in a function the
// march inlines many times, Chromium's software renderer takes minutes to
// build the shader.
float threeSideDistance(vec2 p, vec2 a, vec2 b, vec2 c, vec2 d) {
    float s = min(min(segmentDistance(p, a, b), segmentDistance(p, b, c)), segmentDistance(p, d, a));
    if (edgeSide(p, a, b) < 0.0 && edgeSide(p, b, c) < 0.0 && edgeSide(p, d, a) < 0.0) s = -s;
    return s;
}

// The edge shared by every instrument, as a signed distance in the plane of
// (height, depth inside the outline): flat bottom, flat top, and a 1-in-8 bevel
// over the outermost 0.4 of the top side. The caller rounds it by 0.05. The far
// end at depth 5 is never reached, so that side is left open.
float bevelProfile(vec2 p) {
    return threeSideDistance(p, vec2(0), vec2(0.05, 0.4), vec2(0.05, 5), vec2(0, 5));
}

// Signed distance to the set square's triangle: right angle at u = (-0.5, -4),
// legs 4 along x and 8 along y.
float setSquareTriangle(vec2 u) {
    return threeSideDistance(u + vec2(0.5, 4), vec2(0), vec2(4, 0), vec2(0, 8), vec2(0, 8));
}

// A band of half-width w around the boundary of the disc of radius r cut by the
// line q.x = -0.4: the protractor's D-shaped frame.
float protractorBand(vec2 q, float r, float w) {
    return abs(max(length(q) - r, -0.4 - q.x)) - w;
}

// Exact signed distance to the rectangle of half-size b.
float boxDistance(vec2 p, vec2 b) {
    vec2 w = abs(p) - b;
    return length(max(w, 0.0)) + min(max(w.x, w.y), 0.0);
}

// A smooth lump of height 1 and radius 1.
float bump(vec2 r) {
    float h = max(1.0 - length(r), 0.0);
    h *= h;
    return h * h;
}

// The instruments' solid, negative inside: ruler in the middle, protractor on +x,
// set square on -x, each with the shared edge. The two holes are cut last, so
// their walls stay vertical.
float sceneDistance(vec3 p) {
    return max(min(min(bevelProfile(vec2(p.z, -boxDistance(p.xy, vec2(0.8, 4)))) - 0.05,             // ruler
                       bevelProfile(vec2(p.z, -protractorBand(vec2(5.5 - p.x, p.y), 3.3, 0.7))) - 0.05), // protractor
                   bevelProfile(vec2(p.z, 0.5 - abs(setSquareTriangle(p.xy + vec2(5, 0)) + 0.5))) - 0.05), // set square
               -min(length(p.xy + vec2(0, 3)) - 0.3, length(p.xy - vec2(0, 4)) - 0.1));                // holes
}

// The field inside the material whose integral along a path shifts its colour:
// two gentle waves, ridges along each instrument's middle, and lumps at holes
// and corners. Independent of height.
float interiorDensity(vec3 p) {
    vec2 u = p.xy;
    return 0.25 * (0.5 + 0.5 * sin(2.0 * u.x)) + 0.25 * (0.5 + 0.5 * cos(0.5 * u.y)) +
           max(1.0 - segmentDistance(u, vec2(0, 3.7), vec2(0, -3.7)), 0.0) +
           max(1.0 - protractorBand(vec2(5.5 - u.x, u.y), 3.3, 0.0), 0.0) +
           max(1.0 - abs(setSquareTriangle(u + vec2(5, 0)) + 0.5), 0.0) +
           2.0 * (bump(u - vec2(0, -3.3)) + bump(u - vec2(0, -2.7))) +
           3.0 * (bump(u - vec2(-0.3, 4)) + bump(u - vec2(0.3, 4))) +
           5.0 * (bump(u - vec2(5.2, 2.6)) + bump(u - vec2(5.2, -2.6))) +
           4.0 * (bump(u - vec2(-4.5, -0.4)) + bump(u - vec2(-4.5, -3)) + bump(u - vec2(-3.2, -2.9))) +
           bump(u - vec2(6.3, 4)) + bump(u - vec2(6.3, -4)) - bump(u - vec2(-0.3, -3)) - bump(u - vec2(0.3, -3));
}

// Cosine palette, mixed through a matrix that lets channels go negative.
vec3 palette(float t) {
    return mat3(1.5, -0.2, -0.1, -0.6, 1.1, 0.2, -0.1, 0.1, 1.5) *
           (0.5 - 0.5 * cos(2.0 * t * vec3(5.2, 5.7, 7.2)));
}

// Light from a direction: nothing above, a lit floor with a fine grid below.
// The grid's ratios are only formed well below the horizon, where they stay finite.
vec3 environment(vec3 d, float phase) {
    // The palette's colour, tripled, ramped in below the horizon, times the grid.
    return palette(0.3 + reveal * phase) * 3.0 * smoothstep(0.0, 1.0, -0.8 - 4.0 * d.z) *
           (d.z <= -0.1 ? pow(min(0.5 + 0.5 * cos(400.0 * d.x / d.z), 0.5 + 0.5 * cos(400.0 * d.y / d.z)), 0.02)
                        : 1.0);
}

// Forward-difference gradient, negated: the unit normal pointing into the material.
vec3 inwardNormal(vec3 p) {
    return normalize(sceneDistance(p) - vec3(sceneDistance(p + vec3(0.0001, 0, 0)),
                                             sceneDistance(p + vec3(0, 0.0001, 0)),
                                             sceneDistance(p + vec3(0, 0, 0.0001))));
}

// Sphere-traces one segment from r.o, outside or inside the material as the
// origin's sign says. Inside, the interior phase gathers the density at each
// step's start times the step's length. True on a hit, with the point in r.k.
bool march(inout Co r) {
    float side = sign(sceneDistance(r.o));
    for (int n = 0; n < 100; n++) {
        if (length(r.k - r.o) > 40.0 || r.k.z < -0.1)
            return false;
        float s = sceneDistance(r.k);
        if (abs(s) < 0.0001)
            return true;
        if (side < 0.0)
            r.m -= interiorDensity(r.k) * s * 5.0;
        // Inside, -s steps forward, or back again after an overshoot.
        r.k += s * side * r.d;
    }
    // Lost, grazing along a face: nothing more reaches the eye this way.
    r.c = 0.0;
    return false;
}

// The mirror reflection at a hit, weighted by the throughput that reached it;
// faces looking straight down carry the label sheet's print, which darkens only
// the light that goes on through them. The sheet has no mipmaps, so it is read
// at level 0: the same texels, with no derivatives to take, which a lookup in
// a loop that can end early would make some compilers unroll the loop for.
void shadeHit(inout Co r) {
    vec3 n = -inwardNormal(r.k);
    r.i += environment(reflect(r.d, n), r.m) * 0.8 * (1.0 - 0.98 * abs(dot(r.d, n))) * r.c;
    if (n.z < -0.99)
        r.c *= textureLod(v, vec2(r.k.y / 8.0 - 0.5, r.k.x / 16.0 - 0.5), 0.0).r;
}

// Crosses the surface at the hit: pushes the point to the far side, bends the
// ray (to zero on a total internal reflection), attenuates by the length of the
// segment just ended and starts the next one there.
void refractRay(inout Co r) {
    float side = sign(sceneDistance(r.o));
    vec3 n = -side * inwardNormal(r.k);
    r.k -= 0.0005 * n;
    r.d = refract(r.d, n, side > 0.0 ? 0.7 : 1.4);
    r.c *= exp(-0.01 * length(r.k - r.o));
    r.o = r.k;
}

// Follows one path through at most three surfaces. A segment that meets nothing
// ends it with the light from its direction; once colour is revealed, the floor
// seen directly fades out and only light through the instruments remains.
void trace(inout Co r) {
    for (int s = 0; s < 3; s++) {
        if (!march(r)) {
            r.i += (s == 0 ? (1.0 - reveal) * (1.0 - reveal) : 1.0) * environment(r.d, r.m) * r.c;
            return;
        }
        shadeHit(r);
        refractRay(r);
    }
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
            // Sample k's jitter within the pixel, in [0, 1) on both axes, scaled to 1.25 pixels.
            vec2 p = q + fract(vec2(k * 49471, k * 37345) / exp2(16.0)) / JITTER_DIVISOR * 2.5;
            Co r = Co(eye, normalize(forward + 0.36397 * (-p.x * side + p.y * up)), eye, vec3(0), 1.0, 0.0);
            trace(r);
            colour += r.i / SAMPLE_WEIGHT;
        }
        colour *= pow(max(1.0 - pow(0.7 * length(q), 4.0), 0.0), 3.0);
    } else if (abs(q.y) <= 0.1) {
        // Title card: the label sheet's title strip, inverted and brightened.
        colour = 3.0 * (1.0 - textureLod(v, vec2(0.3 * q.x - 0.5, -0.2 * q.y + 0.09), 0.0).rgb);
    }
    colour *= 1.0 - smoothstep(0.0, 1.0, (m - 71.0) * 0.3);
    f = vec4(0.9 * pow(log(1.0 + 0.7 * max(colour + vec3(0.01, 0.01, 0.02), 0.0)), vec3(0.6)), 1);
}
