// The page's video writer: the part of Mediabunny the video uses (see
// web/package.json for the version), bundled into the page by the build.
export {
  BufferTarget,
  EncodedAudioPacketSource,
  EncodedPacket,
  EncodedVideoPacketSource,
  Mp4OutputFormat,
  Output,
  WebMOutputFormat,
} from "mediabunny";
