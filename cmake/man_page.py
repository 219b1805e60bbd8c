#!/usr/bin/python3
"""A manual page from its source in docs/man/, the one text the page and its checks are made from.

The source, a plain text:
  NAME(SECTION) -- summary                    the first line
  HEADING                                     a line without indentation starts a section
    text                                      two spaces: a paragraph (blank lines between them)
    term                                      two spaces, followed by a line of six: a definition,
        its description                       as an option with its meaning; the options a page
                                              documents are those named in its terms
      literal                                 four spaces: an example, shown as it stands

  man_page.py SOURCE VERSION OUTPUT           writes the page in roff, gzipped as Debian installs
                                              manual pages when OUTPUT ends in .gz
"""
import re
import sys

from gzip_file import write_gzipped

# An option as a program's help and a page name it: -p, -al, --fallback-identity.
OPTION = re.compile(r"(?<![\w-])--?[A-Za-z][A-Za-z0-9-]*")


class Page:
    def __init__(self, text):
        lines = text.splitlines()
        first = re.match(r"^(\S+)\((\d)\) -- (.+)$", lines[0])
        if not first:
            raise ValueError("the first line is not NAME(SECTION) -- summary: %r" % lines[0])
        self.name, self.section, self.summary = first.groups()
        self.sections = []  # (heading, [(kind, lines)]): kind "text", "term" (term, description) or "literal"
        for number, line in enumerate(lines[1:], 2):
            if not line.strip():
                self._blocks().append(("gap", []))
            elif not line.startswith(" "):
                self.sections.append((line.strip(), []))
            elif not self.sections:
                raise ValueError("line %d: text before the first heading" % number)
            else:
                self._add(number, line, lines[number:])

    def _blocks(self):
        return self.sections[-1][1] if self.sections else []

    def _add(self, number, line, following):
        indent = len(line) - len(line.lstrip(" "))
        text = line.strip()
        blocks = self._blocks()
        upcoming = next((l for l in following if l.strip()), "")
        described = upcoming.startswith(" " * 6) and not upcoming.startswith(" " * 7)
        if indent == 2 and described:
            blocks.append(("term", [text]))
        elif indent == 6 and blocks and blocks[-1][0] == "term":
            blocks[-1][1].append(text)
        elif indent == 2:
            if blocks and blocks[-1][0] == "text":
                blocks[-1][1].append(text)
            else:
                blocks.append(("text", [text]))
        elif indent == 4:
            if blocks and blocks[-1][0] == "literal":
                blocks[-1][1].append(text)
            else:
                blocks.append(("literal", [text]))
        else:
            raise ValueError("line %d: indented by %d, not 2, 4 or 6 spaces" % (number, indent))

    def options(self):
        """The options the page documents: those its terms name."""
        return {option for _, blocks in self.sections for kind, lines in blocks if kind == "term"
                for option in OPTION.findall(lines[0])}

    def roff(self, version):
        out = ['.TH "%s" "%s" "" "BrenloKit %s" "Brenlo factory kit"' % (self.name.upper(), self.section, version),
               ".SH NAME", "%s \\- %s" % (escape(self.name), escape(self.summary))]
        for heading, blocks in self.sections:
            out.append('.SH "%s"' % heading)
            for kind, lines in blocks:
                if kind == "text":
                    out.append(".PP")
                    out.extend(line(text) for text in lines)
                elif kind == "term":
                    out.append(".TP")
                    out.append(request_safe(bold_options(lines[0])))
                    out.extend(line(text) for text in lines[1:])
                elif kind == "literal":
                    out.extend([".PP", ".RS 4", ".nf"] + [line(text) for text in lines] + [".fi", ".RE"])
        return "\n".join(out) + "\n"


def escape(text):
    return text.replace("\\", "\\e").replace("-", "\\-")


def bold_options(text):
    """A term for roff: escaped, its options in bold."""
    parts, at = [], 0
    for option in OPTION.finditer(text):
        parts += [escape(text[at:option.start()]), "\\fB%s\\fR" % escape(option.group(0))]
        at = option.end()
    return "".join(parts) + escape(text[at:])


def request_safe(text):
    """A line that roff never reads as a request."""
    return "\\&" + text if text.startswith((".", "'")) else text


def line(text):
    """One line of text for roff."""
    return request_safe(escape(text))


def main(source, version, output):
    with open(source, encoding="utf-8") as f:
        roff = Page(f.read()).roff(version).encode("utf-8")
    if output.endswith(".gz"):
        write_gzipped(roff, output)
    else:
        with open(output, "wb") as f:
            f.write(roff)


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit("usage: man_page.py SOURCE VERSION OUTPUT")
    main(*sys.argv[1:])
