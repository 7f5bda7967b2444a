# The show's ELF header, program headers and dynamic section, written out by
# hand: one read-write-execute segment holds the whole program, and the
# dynamic section only names the libraries and asks the loader for the list
# of what it loaded (DT_DEBUG). Nothing else is imported by name.
        .section .header, "awx"
        .globl _DYNAMIC
file_start:
        .byte 0x7f, 'E', 'L', 'F', 2, 1, 1, 0           # 64-bit, little-endian
        .quad 0
        .short 2, 62                                    # executable, x86-64
        .long 1
        .quad _start
        .quad program_headers - file_start
        .quad 0                                         # no section headers
        .long 0
        .short 64, 56, 3, 0, 0, 0
program_headers:
        .long 3, 4                                      # interpreter
        .quad interpreter - file_start, interpreter, interpreter
        .quad interpreter_end - interpreter, interpreter_end - interpreter, 1
        .long 1, 7                                      # everything, bss included
        .quad 0, file_start, file_start, file_end - file_start, memory_end - file_start, 0x1000
        .long 2, 6                                      # dynamic section
        .quad _DYNAMIC - file_start, _DYNAMIC, _DYNAMIC, dynamic_end - _DYNAMIC, dynamic_end - _DYNAMIC, 8
_DYNAMIC:
        .quad 1, sdl - strings, 1, gl - strings, 1, opus - strings, 1, spectre - strings
        .quad 5, strings                                # DT_STRTAB
        .quad 6, 0                                      # DT_SYMTAB, empty
        .quad 21, 0                                     # DT_DEBUG, filled in by the loader
        .quad 0
dynamic_end:
# The names, with the other strings of the image, where they compress better.
        .section .header_strings, "a"
interpreter:
        .asciz "/lib64/ld-linux-x86-64.so.2"
interpreter_end:
strings:
        .byte 0
sdl:    .asciz "libSDL2-2.0.so.0"
gl:     .asciz "libGL.so.1"
opus:   .asciz "libopus.so.0"
spectre: .asciz "libspectre.so.1"

        .section .header, "awx"
# The process starts with the stack on a 16-byte boundary; a call leaves it as
# every function expects it.
        .globl _start
_start:
        call show_main
