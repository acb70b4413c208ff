"""Instructions as objdump disassembles them, for the checks that read a module's code."""
import re
import subprocess

LINE = re.compile(r'^\s*([0-9a-f]+):\s+(\S+)\s*(.*)$')


def instructions(objdump, path):
    """(address, mnemonic, operands) of every instruction objdump finds in `path`."""
    listing = subprocess.run([objdump, '-d', '-w', '--no-show-raw-insn', path], check=True,
                             capture_output=True, text=True).stdout
    for line in listing.splitlines():
        match = LINE.match(line)
        if match:
            yield match.groups()
