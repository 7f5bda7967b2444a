# The packed program's own code. It decodes the compressed show that follows
# it into its own memory, checks it against the checksum the packer stored,
# writes it into an anonymous in-memory file and runs that file in its own
# place: same process, same arguments and environment, nothing written to any
# file system, no other program. Any failure ends the process with status 1.
#
# The decoder is the one context_mixing.hpp describes, operation for
# operation: the packer's reference decoder there gives the same bytes, and
# the packer checks every build against this code (assembled with DUMP, it
# writes what it decoded to standard output instead of running it).
#
# Size matters more than anything here, so part of the code and the model's
# constants live inside the ELF header, in fields the kernel ignores, chained
# by short jumps; the `.org` lines make the assembler refuse any piece that
# outgrows its field.
#
# What the code relies on (Linux x86-64):
# - the kernel starts a static executable with every general register but rsp
#   zeroed, and the FPU in its initial state;
# - syscall keeps every register but rax, rcx and r11;
# - the memory after the file is zero: the bytes the decoder reads past the
#   payload, the history before the image and the decoder's tables.
#
# Registers while decoding:
#   edi  the byte being decoded (it holds c0, the bits so far under a 1)
#   ebx  the model's record: weight [rbx], input [rbx + 4N], counter [rbx + 8N]
#   esi  the model's mask and stride     r13  the next payload byte
#   ebp  the last bit                    r12d the coder's code value
#   r15d the checksum so far             [rsp] the coder's range (a quadword)
#   x87  x (the mixer's sum), eta (bit - p) of the last bit, delta, 1
        .intel_syntax noprefix
        # The compressor writes model.s: MODEL_COUNT, IMAGE_SIZE, CHECKSUM, DELTA_BITS,
        # ETA_BITS, MODEL_MASKS, and from context_mixing.hpp TABLE (the counters' address,
        # its one bit TABLE_BIT, their end TABLE_END), RECORDS (where the models' records
        # end) and HASH_MULTIPLIER (K1 there: here k1 is a mask register's name).
        .include "model.s"
        .set N, MODEL_COUNT
        .set END, 0x30000               # where the image ends: a 64 KiB boundary
        .set OUT, END - IMAGE_SIZE      # the image, 2 KiB and more of zeros before it
        .set AT_EMPTY_PATH, 0x1000
        .section .stub, "awx"

file_start:                             # ELF header
        .byte 0x7f, 'E', 'L', 'F'       # the only part of e_ident the kernel checks

# e_ident's other 12 bytes: the entry point.
start:
        mov edi, OUT
        inc byte ptr [rdi]              # c0 = 1
        push 1                          # the range: 1, so the first normalisation reads 3 bytes
        jmp 1f
        .org file_start + 0x10
        .short 2, 62                    # e_type: executable, e_machine: x86-64
control_word:                           # e_version (ignored): the FPU's control word,
        .short 0x77f, 0                 #   extended precision, rounding down
        .quad start                     # e_entry
        .quad program_header - file_start   # e_phoff
delta:  .long DELTA_BITS                # e_shoff (ignored): the model's two constants
eta:    .long ETA_BITS

program_header:                         # it overlaps the ELF header's last 16 bytes:
        .long 1                         # p_type: loaded          (e_flags)
        .short 7                        # p_flags: rwx            (e_ehsize)
        .short 56                       # (p_flags' ignored high half) e_phentsize
        .quad 1                         # p_offset: 1 so that e_phnum reads 1, and
                                        #   e_shentsize, e_shnum, e_shstrndx 0
        .quad file_start + 1            # p_vaddr: same offset in the page, so file
                                        #   offset 0 maps to file_start
1:      fldcw [rip + control_word]      # p_paddr (ignored)
        jmp 2f
        .org file_start + 0x50
        .quad file_end - file_start     # p_filesz
        .quad TABLE_END - file_start    # p_memsz: up to the counters' end
        # p_align (ignored) and all that follows: code.
2:      fld1                            # 1, kept below everything
        fld dword ptr [rip + delta]
        fldz                            # eta (bit - p) of no bit yet: 0
        mov r13d, offset payload
        mov ebx, RECORDS - 4 * N
        mov ah, AT_EMPTY_PATH >> 8
        xchg eax, r8d                   # for the final execveat
        jmp normalize

decoder:
bit:    fldz                            # x = 0
        mov esi, offset masks
        mov bl, -4 * N                  # the first record: the records end at RECORDS,
                                        #   a multiple of 256
model:  # What the last bit taught this model: its count up, the other halved.
        mov eax, [rbx + 8 * N]
        bts eax, TABLE_BIT              # (no bit yet: a counter of the table all the same)
        lea eax, [rax + rbp * 2]
        inc word ptr [rax]
        xor al, 2
        shr word ptr [rax], 1           # n / 2, and 1 more unless n was 0
        jnz 3f
        jnc 4f
3:      inc word ptr [rax]
4:      fld dword ptr [rbx + 4 * N]     # w += eta (bit - p) s
        fmul st, st(2)
        fadd dword ptr [rbx]
        fstp dword ptr [rbx]
        # This bit's context: the bytes the mask picks, one stride apart.
        lodsw                           # al: the mask, ah: the stride
        movzx ecx, ah
        mov edx, ebx
        push rdi
5:      sub edi, ecx
        shr al, 1
        jnc 6f
        add dl, [rdi]
6:      imul edx, edx, HASH_MULTIPLIER
        test al, al
        jnz 5b
        pop rdi
        shr edx, 8
        xor dl, [rdi]                   # and c0
        lea eax, [TABLE + rdx * 4]
        or byte ptr [rax], 0            # (a write first: one page fault, not two)
        mov [rbx + 8 * N], eax
        # s = lg((n1 + delta) / (n0 + delta)), lg piecewise linear
        fild word ptr [rax + 2]
        fadd st, st(3)
        fild word ptr [rax]
        fadd st, st(4)
        fdivp
        fxtract
        fsub st, st(5)                  # mantissa - 1
        faddp
        fst dword ptr [rbx + 4 * N]
        fmul dword ptr [rbx]
        faddp                           # x += w s
        add bl, 4
        jnz model
        # t = 2^x, piecewise linear; p = t / (1 + t)
        fld st
        frndint
        fsub st(1), st
        fxch
        fadd st, st(4)                  # 1 + fraction
        fscale
        fstp st(1)
        fld1
        fadd st, st(1)
        fdivp
        # bound = floor(range p) | 1: in [1, range - 1], as p < 1 rounded down
        fild qword ptr [rsp]
        fmul st, st(1)
        push rax
        fistp qword ptr [rsp]
        pop rax
        or al, 1
        cmp r12d, eax                   # a one below the bound
        sbb ebp, ebp
        jb 7f
        sub r12d, eax
        sub [rsp], eax
        .byte 0x3c                      # (cmp al, imm8: steps over the next 2 bytes
7:      mov [rsp], eax                  #   of 3, and the last one adds to al, which
        neg ebp                         #   is not used again) ebp = bit, CF = bit
        push rbp
        fisubr dword ptr [rsp]
        pop rax
        fmul dword ptr [rip + eta]
        fstp st(1)                      # the new eta (bit - p) replaces the old
        rcl byte ptr [rdi], 1
        jnc normalize
        add r15d, [rdi]                 # a whole byte: into the checksum (the bytes
        rol r15d, 5                     #   after it are still 0), and on to the next
        inc edi
        inc byte ptr [rdi]
        test di, di
        jz decoded
normalize:
        cmp byte ptr [rsp + 3], 0
        jne bit
        shl dword ptr [rsp], 8
        shl r12d, 8
        mov r12b, [r13]
        inc r13
        jmp normalize
decoder_end:

decoded:
        pop rax                         # the range
        cmp r15d, CHECKSUM
        jne fail
.ifdef DUMP
        push 1
        pop rdi
        mov esi, OUT
        mov edx, IMAGE_SIZE
        push 1
        pop rax
        syscall                         # write(1, image, size)
        xor edi, edi
        jmp exit
.else
        inc edi                         # END + 1: a 0, the file's empty name
        push 0x11                       # MFD_CLOEXEC | MFD_EXEC, so that it may run where
        pop rsi                         #   vm.memfd_noexec is 1; then MFD_CLOEXEC alone,
8:      mov eax, 319                    #   for kernels before 6.3 that refuse the flag
        syscall                         # memfd_create
        test eax, eax
        jns 9f
        sub esi, 0x10
        jns 8b
.endif
fail:   push 1
        pop rdi
exit:   push 60
        pop rax
        syscall
.ifndef DUMP
9:      xchg eax, edi
        mov esi, OUT
        cdq
        mov dh, (IMAGE_SIZE + 255) >> 8 # at least the image: the loader ignores what follows
        push 1
        pop rax
        syscall                         # write(file, image, size)
        pop rcx                         # the argument count
        push rsp
        pop rdx                         # the arguments
        lea r10, [rdx + rcx * 8 + 8]    # the environment, after the arguments' NULL
        dec esi                         # OUT - 1: a 0, the empty path
        mov ax, 322                     # (eax: the bytes written, < 65536)
        syscall                         # execveat(file, "", argv, envp, AT_EMPTY_PATH)
        jmp fail
.endif

masks:  MODEL_MASKS
payload:
        .incbin "payload.cm"
file_end:
