/* The show as one flat image at a fixed address: the hand-written headers
   first, then the embedded texts, other data and the import hashes, then the
   code (this order compresses best), then the zeroed memory that the file
   does not hold. The *_start and *_end marks let the packer weigh each part. */
ENTRY(_start)
SECTIONS {
  . = 0x400000;
  .image : {
    headers_start = .;
    KEEP(*(.header))
    headers_end = .;
    roll_start = .;
    *(.rodata*MUSIC_ROLL*)
    roll_end = .;
    label_start = .;
    *(.rodata*postscript_ps_min*)
    label_end = .;
    shader_start = .;
    *(.rodata*frag_min*)
    shader_end = .;
    *(.rodata.[!I]* .data*)
    imports_start = .;
    *(.rodata.IMPORT_HASHES)
    imports_end = .;
    code_start = .;
    *(.text._start) *(.text*)
    code_end = .;
    file_end = .;
  }
  .bss (NOLOAD) : { *(.bss*) *(COMMON) }
  memory_end = .;
  /DISCARD/ : { *(.comment) *(.note*) *(.eh_frame*) *(.group) }
}
