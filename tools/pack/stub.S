# The packed program's own code. It unpacks the compressed show that follows
# it into an anonymous in-memory file with the system's xz decompressor, then
# runs that file in its own place: same process, same arguments and
# environment, nothing written to any file system. Any failure ends the
# process with status 1.
        .intel_syntax noprefix
        .section .stub, "awx"
file_start:
        .byte 0x7f, 'E', 'L', 'F', 2, 1, 1, 0           # 64-bit, little-endian
        .quad 0
        .short 2, 62                                    # executable, x86-64
        .long 1
        .quad start
        .quad program_header - file_start
        .quad 0                                         # no section headers
        .long 0
        .short 64, 56, 1, 0, 0, 0
program_header:
        .long 1, 5                                      # loaded, readable and executable
        .quad 0, file_start, file_start, file_end - file_start, file_end - file_start, 0x1000

start:
        mov rbp, rsp                    # argument count, arguments, environment
        push 1
        pop rsi                         # close-on-exec: the show does not inherit it
        mov edi, offset empty_name
        mov eax, 319
        syscall                         # memfd_create
        test eax, eax
        js fail
        mov r12d, eax
        push rax                        # room for the pipe's two descriptors
        mov rdi, rsp
        mov esi, 0x80000                # close-on-exec
        mov eax, 293
        syscall                         # pipe2
        test eax, eax
        jnz fail
        mov edi, [rsp + 4]
        mov esi, offset payload
        mov edx, offset payload_size
        push 1
        pop rax
        syscall                         # write: the payload fits any pipe's buffer
        mov eax, 3
        syscall                         # close, so that the decompressor sees the end
        mov eax, 57
        syscall                         # fork
        test eax, eax
        jnz parent

        mov edi, [rsp]                  # the child: the pipe on standard input,
        xor esi, esi
        mov eax, 33
        syscall                         # dup2
        mov edi, r12d                   # the in-memory file on standard output
        inc esi
        mov eax, 33
        syscall                         # dup2
        mov edi, offset decompressor
        push 0
        push rdi
        mov rsi, rsp
        xor edx, edx
        mov eax, 59
        syscall                         # execve, back only on failure
fail:
        push 1
        pop rdi
        mov eax, 231
        syscall                         # exit_group(1)

parent:
        or edi, -1
        mov rsi, rsp
        xor edx, edx
        xor r10d, r10d
        mov eax, 61
        syscall                         # wait4: the status of any child
        cmp dword ptr [rsp], 0          # it exited with 0: the whole program is there
        jne fail
        mov edi, r12d
        mov esi, offset empty_name
        lea rdx, [rbp + 8]
        mov eax, [rbp]
        lea r10, [rbp + 16 + rax * 8]
        mov r8d, 0x1000                 # the descriptor itself is the file
        mov eax, 322
        syscall                         # execveat, back only on failure
        jmp fail

decompressor:
        .incbin "decompressor"          # its path, written by the packer
empty_name:
        .byte 0
payload:
        .incbin "payload.lzma"
file_end:
        .set payload_size, file_end - payload
