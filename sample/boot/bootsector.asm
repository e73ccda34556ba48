; Base image of the sample 1.44 MB FAT12 floppy (first 33 sectors).
;
; Layout produced by `nasm -f bin`:
;   sector  0      boot sector (BPB + boot code + 0x55 0xAA)
;   sectors 1-9    first FAT   (F0 FF FF, rest free)
;   sectors 10-18  second FAT  (identical copy)
;   sectors 19-32  root directory (224 entries, all empty)
; The installer appends the data area and fills in the directory and FATs.
;
; At boot the code reads README.TXT from the root directory and prints its
; first line on the screen (BIOS teletype) and on COM1, then halts.  It uses
; the drive number handed over by the BIOS in DL, so it works both from a
; real floppy drive and from a CD booted with 1.44 MB floppy emulation.

        bits 16
        cpu 186                         ; pusha/popa, shr reg,imm

        org 0x7C00

; ---------------------------------------------------------------------------
; Geometry and memory map
; ---------------------------------------------------------------------------
SECTORS_PER_TRACK   equ 18
HEAD_COUNT          equ 2
ROOT_LBA            equ 19              ; 1 reserved + 2 * 9 FAT sectors
ROOT_SECTORS        equ 14              ; 224 entries * 32 bytes / 512
ROOT_ENTRIES        equ 224
FAT_LBA             equ 1
FAT_SECTORS         equ 9
DATA_LBA_BIAS       equ 31              ; cluster c lives at LBA 31 + c

ROOT_BUF            equ 0x8000          ; 0x8000-0x9BFF
FAT_BUF             equ 0xA000          ; 0xA000-0xB1FF
DATA_BUF            equ 0xC000          ; 0xC000-0xC1FF
; All buffers lie inside the first 64 KB of physical memory and each read
; transfers a single sector at a 512-byte aligned address, so no transfer
; can straddle a 64 KB DMA boundary.

READ_TRIES          equ 5

COM1                equ 0x3F8

; ---------------------------------------------------------------------------
; Boot sector with BIOS parameter block
; ---------------------------------------------------------------------------
        jmp short start
        nop

oem_name            db "TALVOSMP"
bytes_per_sector    dw 512
sectors_per_cluster db 1
reserved_sectors    dw 1
fat_count           db 2
root_entry_count    dw ROOT_ENTRIES
total_sectors       dw 2880
media_descriptor    db 0xF0
sectors_per_fat     dw FAT_SECTORS
sectors_per_track   dw SECTORS_PER_TRACK
head_count          dw HEAD_COUNT
hidden_sectors      dd 0
total_sectors_32    dd 0
drive_number        db 0                ; overwritten in memory with DL at boot
reserved_byte       db 0
boot_signature      db 0x29
volume_serial       dd 0x54A1C0DE
; "NO NAME" is the conventional value for a volume without a label; the root
; directory carries no volume-label entry, and fsck.fat reports a mismatch for
; any other text here.
volume_label        db "NO NAME    "
fs_type             db "FAT12   "

; ---------------------------------------------------------------------------
; Boot code
; ---------------------------------------------------------------------------
start:
        ; Some BIOSes enter at 07C0:0000 instead of 0000:7C00; a far jump makes
        ; CS agree with the ORG above.
        jmp 0x0000:normalised
normalised:
        cli
        xor ax, ax
        mov ds, ax
        mov es, ax
        mov ss, ax
        mov sp, 0x7C00                  ; stack grows down below the boot sector
        sti
        cld

        mov [drive_number], dl          ; drive we were booted from

        ; Program COM1: 38400 baud, 8 data bits, no parity, 1 stop bit,
        ; FIFOs enabled and cleared, DTR/RTS/OUT2 asserted.
        mov si, uart_setup
        mov cx, uart_setup_len / 2
        mov dh, COM1 >> 8
.uart:
        lodsw                           ; al = port low byte, ah = value
        mov dl, al
        mov al, ah
        out dx, al
        loop .uart

        ; Read the whole root directory.
        mov ax, ROOT_LBA
        mov bx, ROOT_BUF
        mov cx, ROOT_SECTORS
        call read_sectors

        ; Look for the 8.3 entry "README  TXT".
        mov di, ROOT_BUF
        mov dx, ROOT_ENTRIES
.scan:
        mov al, [di]
        test al, al                     ; 0x00: no further entries in use
        jz not_found
        cmp al, 0xE5                    ; deleted entry
        je .next
        test byte [di + 11], 0x18       ; skip volume labels and directories
        jnz .next
        push di
        mov si, readme_name
        mov cx, 11
        repe cmpsb
        pop di
        je found
.next:
        add di, 32
        dec dx
        jnz .scan

not_found:
        mov si, msg_not_found
        jmp fatal

found:
        mov bp, [di + 26]               ; first cluster
        mov ax, [di + 28]               ; file size, low word
        mov [bytes_left], ax
        mov ax, [di + 30]               ; file size, high word
        mov [bytes_left + 2], ax

        ; Load the first FAT.
        mov ax, FAT_LBA
        mov bx, FAT_BUF
        mov cx, FAT_SECTORS
        call read_sectors

        ; Walk the cluster chain and print until the first CR/LF, the end of
        ; the file or the end of the chain, whichever comes first.
.cluster:
        cmp bp, 2                       ; 0 = empty file, 1 = invalid
        jb end_of_line
        cmp bp, 0xFF8                   ; end-of-chain marker
        jae end_of_line

        lea ax, [bp + DATA_LBA_BIAS]
        mov bx, DATA_BUF
        mov cx, 1
        call read_sectors

        mov si, DATA_BUF
        mov cx, 512
.byte:
        mov ax, [bytes_left]
        or ax, [bytes_left + 2]
        jz end_of_line                  ; whole file printed
        lodsb
        cmp al, 13
        je end_of_line
        cmp al, 10
        je end_of_line
        call putc
        sub word [bytes_left], 1
        sbb word [bytes_left + 2], 0
        loop .byte

        ; Next cluster: FAT12 entry n sits at byte n*3/2; an odd n holds its
        ; value in the high 12 bits of that word, an even n in the low 12.
        mov bx, bp
        shr bx, 1
        add bx, bp
        mov ax, [FAT_BUF + bx]
        test bp, 1
        jz .even
        shr ax, 4
.even:
        and ax, 0x0FFF
        mov bp, ax
        jmp .cluster

end_of_line:
        mov si, crlf
        call puts

halt:
        cli
        hlt
        jmp halt

; Print the message at SI followed by CR LF, then stop.
fatal:
        call puts
        jmp end_of_line

; ---------------------------------------------------------------------------
; read_sectors: read CX sectors starting at LBA AX into 0000:BX, one sector
; per call.  Each read is retried after a controller reset; on final failure
; "Disk error" is printed and the machine halts.
; ---------------------------------------------------------------------------
read_sectors:
        pusha
.sector:
        mov di, READ_TRIES
.try:
        pusha
        xor dx, dx
        mov cx, SECTORS_PER_TRACK
        div cx                          ; ax = LBA / 18, dx = LBA % 18
        mov cl, dl
        inc cx                          ; cl = sector (1-based); cylinder < 256
        shr ax, 1                       ; ax = cylinder, carry = head
        mov ch, al
        mov dh, 0
        adc dh, 0                       ; dh = head
        mov dl, [drive_number]
        mov ax, 0x0201                  ; read one sector
        int 0x13
        popa                            ; flags survive popa
        jnc .done
        pusha
        xor ax, ax                      ; reset the disk system
        mov dl, [drive_number]
        int 0x13
        popa
        dec di
        jnz .try
        mov si, msg_disk_error
        jmp fatal
.done:
        inc ax
        add bx, 512
        loop .sector
        popa
        ret

; ---------------------------------------------------------------------------
; puts: print the zero-terminated string at SI on screen and COM1.
; ---------------------------------------------------------------------------
puts:
        lodsb
        test al, al
        jz .out
        call putc
        jmp puts
.out:
        ret

; ---------------------------------------------------------------------------
; putc: print AL on screen (BIOS teletype) and on COM1.
; ---------------------------------------------------------------------------
putc:
        pusha
        mov bl, al
        mov dx, COM1 + 5                ; line status register
        mov cx, 0xFFFF                  ; give up waiting eventually
.wait:
        in al, dx
        test al, 0x20                   ; transmit holding register empty
        jnz .send
        loop .wait
.send:
        mov dl, COM1 & 0xFF
        mov al, bl
        out dx, al
        mov ah, 0x0E
        mov bx, 0x0007                  ; page 0, light grey
        int 0x10
        popa
        ret

; ---------------------------------------------------------------------------
; Data
; ---------------------------------------------------------------------------
uart_setup:                             ; (port low byte, value) pairs
        db 0xF9, 0x00                   ; no interrupts
        db 0xFB, 0x80                   ; DLAB on
        db 0xF8, 0x03                   ; divisor 3 = 38400 baud
        db 0xF9, 0x00
        db 0xFB, 0x03                   ; DLAB off, 8N1
        db 0xFA, 0xC7                   ; FIFO on, cleared, 14-byte trigger
        db 0xFC, 0x0B                   ; DTR, RTS, OUT2
uart_setup_len      equ $ - uart_setup

readme_name         db "README  TXT"
msg_not_found       db "README.TXT not found", 0
msg_disk_error      db "Disk error", 0
crlf                db 13, 10, 0

bytes_left          dd 0                ; bytes of README.TXT not yet printed

; Assembly fails here ("TIMES value is negative") if the code outgrows the
; boot sector.
        times 510 - ($ - $$) db 0
        dw 0xAA55

; ---------------------------------------------------------------------------
; Two identical, empty FATs: media byte + end-of-chain for entry 1.
; ---------------------------------------------------------------------------
%rep 2
        db 0xF0, 0xFF, 0xFF
        times FAT_SECTORS * 512 - 3 db 0
%endrep

; ---------------------------------------------------------------------------
; Empty root directory.
; ---------------------------------------------------------------------------
        times ROOT_SECTORS * 512 db 0
