// Where the build has no Mediabunny (npm could not install it), the page's
// video writer is this: nothing, and the page offers no video.
export {};
