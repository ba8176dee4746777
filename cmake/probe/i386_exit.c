/* The smallest i386 program there is: exit(0) through the 32-bit system call gate. It needs no C
 * library, so it runs wherever the kernel accepts i386 code at all, and fails with "Exec format
 * error" where 32-bit emulation is off. */
void _start(void) { __asm__ volatile("movl $1, %eax\n\txorl %ebx, %ebx\n\tint $0x80"); }
