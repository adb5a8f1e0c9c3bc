# A 32-bit Linux program that prints the machine name the kernel gives it: "x86_64" where
# the kernel runs 32-bit programs itself, the emulated machine ("i686") under qemu-user.
# Built with the host's binutils (as --32, ld -m elf_i386), so it needs no 32-bit C library.
	.text
	.globl _start
_start:
	movl $122, %eax			# uname(&name)
	movl $name, %ebx
	int $0x80
	testl %eax, %eax
	jnz failed
	movl $name + 4 * 65, %ecx	# the machine: fifth of six fields of 65 bytes
	movl %ecx, %edx
1:	cmpb $0, (%edx)
	je 2f
	incl %edx
	jmp 1b
2:	movb $10, (%edx)
	incl %edx
	subl %ecx, %edx
	movl $4, %eax			# write(1, machine, length)
	movl $1, %ebx
	int $0x80
	cmpl %edx, %eax
	jne failed
	movl $0, %ebx
	jmp done
failed:
	movl $1, %ebx
done:
	movl $1, %eax			# _exit(status)
	int $0x80

	.bss
name:
	.space 6 * 65 + 1
