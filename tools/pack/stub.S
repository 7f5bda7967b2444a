# The packed program's own code. It unpacks the compressed show that follows
# it into an anonymous in-memory file with the system's xz decompressor, then
# runs that file in its own place: same process, same arguments and
# environment, nothing written to any file system. Any failure ends the
# process with status 1.
#
# Size matters more than anything here, so the code lives partly inside the
# ELF header: the program header overlaps the ELF header's tail, and the
# fields the kernel ignores hold code, chained by short jumps. The `.org`
# lines make the assembler refuse any piece that outgrows its field.
#
# What the code relies on (Linux x86-64):
# - the kernel starts a static executable with every general register but
#   rsp zeroed, so a register is known to be 0 until the code first sets it;
# - syscall keeps every register but rax, rcx (the return address) and r11;
# - a failed system call leaves a small negative number in rax. The code
#   often sets only al for the next call, so after a failure the next number
#   is 0xffff..ffxx, which no system call has: it fails too (ENOSYS). Failures
#   thus run down a chain of calls without a test after each one;
# - executing an empty or incomplete in-memory file fails, so every early
#   failure ends in the final execveat failing at worst.
        .intel_syntax noprefix
        .section .stub, "awx"

file_start:                             # ELF header
        .byte 0x7f, 'E', 'L', 'F'       # the only part of e_ident the kernel checks

# e_ident's other 12 bytes: the entry point.
start:
        mov ah, 0x10
        xchg eax, r8d                   # r8 = AT_EMPTY_PATH, for the final execveat
        mov dx, offset payload_size     # for pwrite64 below (it is < 4 KiB)
        inc esi                         # MFD_CLOEXEC: the show inherits neither file
        jmp 1f
        .org file_start + 0x10
        .short 2, 62                    # e_type: executable, e_machine: x86-64

# e_version (ignored)
1:      push rax                        # a 0 on the stack: the files' empty name,
        push rsp                        #   later the NULL ending the decompressor's argv
        jmp 2f
        .org file_start + 0x18
        .quad start                     # e_entry
        .quad program_header - file_start   # e_phoff

# e_shoff (ignored): two anonymous files, one for the compressed show
# (the decompressor's input) and one for the show itself.
2:      pop rdi                         # the empty name
next_memfd:
        mov eax, 319                    # (the 5-byte form fills the field exactly)
        jmp 3f
        .org file_start + 0x30

program_header:                         # it overlaps the ELF header's last 16 bytes:
        .long 1                         # p_type: loaded          (e_flags)
        .short 7                        # p_flags: rwx: wait4 writes (e_ehsize)
                                        #   its status over the payload
        .short 56                       # (p_flags' ignored high half) e_phentsize
        .quad 1                         # p_offset: 1 so that e_phnum reads 1, and
                                        #   e_shentsize, e_shnum, e_shstrndx 0
        .quad file_start + 1            # p_vaddr: same offset in the page, so file
                                        #   offset 0 maps to file_start

# p_paddr (ignored): the decompressor's arguments and empty environment;
# the child process arrives here from below with eax = 1 (or, after a failed
# dup2, negative: then execve is not called either).
child_exec:
        cdq                             # rdx = 0: no environment
        push rdi                        # argv = {path, NULL}: the NULL is the name's 0
        push rsp
        pop rsi
        mov al, 59
        jmp exec_call                   # execve
        .org file_start + 0x50
        .quad file_end - file_start     # p_filesz
        .quad file_end - file_start     # p_memsz
        # p_align (ignored) and all that follows: code.

3:      syscall                         # memfd_create("", MFD_CLOEXEC)
        xchg eax, ebx                   # ebx: the newest file, eax: the one before
        test eax, eax                   # (0 the first time round: ebx started at 0;
        jz next_memfd                   #   no file gets number 0 twice)
        # eax: the decompressor's input, ebx: the show. Either is negative if
        # its memfd_create failed: then the child's dup2 fails, so it exits 1.
        mov edi, eax
        mov esi, offset payload
        mov al, 18                      # (eax: a small file number)
        syscall                         # pwrite64(input, payload, size, 0): offset 0
                                        #   stays the file's position for the reader
        push 57
        pop rax
        syscall                         # fork
        test eax, eax
        jz child

        # The parent: wait for the decompressor; the status lands on the
        # payload's first bytes, which are no longer needed.
        cdq                             # rdx = 0: no options
        xchg eax, edi                   # rdi = the child's process id
        mov al, 61
        syscall                         # wait4(child, payload, 0, NULL)
        cmp [rsi], edx                  # exited with 0: the whole show is there
        jne fail
        # rsi points at that 0 status: it is also the empty path for execveat.
        mov edi, ebx
        pop rax                         # the name's 0
        pop rax                         # argument count
        push rsp
        pop rdx                         # the arguments
        lea r10, [rdx + rax * 8 + 8]    # the environment, after the arguments' NULL
        mov ax, 322                     # execveat(show, "", argv, envp, AT_EMPTY_PATH)
                                        #   (65536 or more arguments would make an
                                        #   unknown call number: it fails, exit 1)
exec_call:
        syscall                         # execve or execveat: back only on failure
fail:
        push 1
        pop rdi
        push 60
        pop rax
        syscall                         # exit(1)

        # The child: the input on standard input, the show's file on standard
        # output, then the decompressor in its place.
child:
        xor esi, esi
        mov al, 33
        syscall                         # dup2(input, 0)
        mov edi, ebx
        inc esi
        mov al, 33
        syscall                         # dup2(show, 1)
after_dup2:
        # lea edi, [rcx + disp8]: rcx holds the syscall's return address and the
        # path follows 5 bytes on (written as bytes: as would use a 32-bit
        # displacement for a label further on)
        .byte 0x8d, 0x79, decompressor - after_dup2
        jmp child_exec

decompressor:
        .incbin "decompressor"          # its path, written by the packer
        .byte 0
payload:
        .incbin "payload.lzma"
file_end:
        .set payload_size, file_end - payload
