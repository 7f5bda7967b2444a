// The part of Mediabunny the page's video uses, bundled by the build into one
// script that defines Mediabunny (see web/package.json for the versions).
export {
  BufferTarget,
  EncodedAudioPacketSource,
  EncodedPacket,
  EncodedVideoPacketSource,
  Mp4OutputFormat,
  Output,
  WebMOutputFormat,
} from "mediabunny";
