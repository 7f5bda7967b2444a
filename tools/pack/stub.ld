/* The packed program: one segment at a fixed address, read and executed. */
SECTIONS {
  . = 0x10000;
  .stub : { KEEP(*(.stub)) }
  /DISCARD/ : { *(*) }
}
