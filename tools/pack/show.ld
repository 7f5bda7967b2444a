/* The show as one flat image at a fixed address: the hand-written headers
   first, then the code, then the other data, the roll and the embedded texts
   (in the order that compresses best: the code's statistics come first and
   the texts follow one another), the import hashes last, then the zeroed
   memory that the file does not hold. The *_start and *_end marks let the
   packer weigh each part. */
ENTRY(_start)
SECTIONS {
  . = 0x400000;
  .image : {
    headers_start = .;
    KEEP(*(.header))
    headers_end = .;
    code_start = .;
    *(.text._start) *(.text*)
    code_end = .;
    KEEP(*(.header_strings))
    *(.rodata*.str1.1)
    *(.data*)
    *(.rodata*VOICE_B* .rodata*VOICE_A*)
    roll_start = .;
    *(.rodata*MUSIC_ROLL*)
    roll_end = .;
    *(.rodata*white_texel*)
    shader_start = .;
    *(.rodata*frag_min*)
    shader_end = .;
    label_start = .;
    *(.rodata*postscript_ps_min*)
    label_end = .;
    *(.rodata.[!I]*)
    imports_start = .;
    *(.rodata.IMPORT_HASHES)
    imports_end = .;
    file_end = .;
  }
  .bss (NOLOAD) : { *(.bss*) *(COMMON) }
  memory_end = .;
  /DISCARD/ : { *(.comment) *(.note*) *(.eh_frame*) *(.group) }
}
