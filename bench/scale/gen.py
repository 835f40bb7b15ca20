#!/usr/bin/env python3
"""Deterministic generator of large sample installations and settings files for the scale benchmark.

  gen.py installation --files N --out DIR [--seed S]
      An old installation as "/backup" expects it: DIR/suite, DIR/modules, DIR/data. About 52 KB per
      file on average (20,000 files make about 1 GB): mostly records of a few KB, one file in twenty
      between 16 and 256 KB, one in a hundred of several MB, in folders up to five levels deep.

  gen.py fresh --out DIR [--seed S]
      The fresh defaults of a new installation as "/restore" expects them: DIR/config, DIR/data,
      DIR/common.

  gen.py config --size-mb M --variant saved|live --out FILE [--seed S]
      A "CommonConfig.xml" of about M MB: the merged elements (brand, platform, titolo-language,
      language, titolo-customerInfo, customerInfo with its eleven children) and settings-like bulk.

  gen.py shape --shape NAME --size-mb M --saved FILE --live FILE [--seed S]
      A saved and a live "CommonConfig.xml" for the merge, one of them about M MB of one shape
      (the other the usual small file): text-saved, text-live (one huge text value in a merged
      element), elements (millions of small elements), attributes (millions of attributes on the
      merged "language" element, before the merged ones), nesting (one chain of nested elements,
      a million levels at about 17 MB), names (elements and attributes with names of 256 K
      characters, before the merged elements). See SHAPES.

The same arguments always give the same bytes. An installation folder that already holds the
manifest of the same arguments is left as it is, so reruns do not write a gigabyte again.
"""
import argparse
import json
import os
import random
import shutil
import sys

GENERATOR_VERSION = 3
POOL_BYTES = 8 << 20

TOWNS = ["Forlì", "Cesena", "Ravenna", "Bologna", "Modena", "Città di Castello", "Rimini", "Imola",
         "Faenza", "Lugo", "München", "Nürnberg", "Lyon", "Besançon"]
SURNAMES = ["Rossi", "Bianchi", "Ricci", "Nicolò", "Esposito", "Romano", "Colombo", "Bruno", "Gallo",
            "Conti", "Müller", "Schäfer", "Lefèvre", "Marino", "Greco", "Lombardi"]
FIRST = ["Mario", "Giulia", "Luca", "Anna", "Jürgen", "Chiara", "Paolo", "Sofia", "Andrea", "Élodie"]
MAKES = ["Fiat", "Iveco", "Alfa Romeo", "Lancia", "Volkswagen", "Renault", "Peugeot", "Ford", "Opel"]


def rng_for(seed, *labels):
    return random.Random("%s/%s" % (seed, "/".join(str(label) for label in labels)))


class Pool:
    """Seeded bytes from which the larger files take rotated slices."""

    def __init__(self, seed):
        self.data = rng_for(seed, "pool").randbytes(POOL_BYTES)
        self.view = memoryview(self.data)

    def write(self, path, size, offset):
        with open(path, "wb") as out:
            left = size
            at = offset % POOL_BYTES
            while left > 0:
                take = min(left, POOL_BYTES - at)
                out.write(self.view[at:at + take])
                left -= take
                at = 0


def pick_size(rng, scale=1.0):
    """A realistic data file size: mostly records of a few KB, some hundred-KB, a few multi-MB."""
    roll = rng.random()
    if roll < 0.94:
        return int(rng.randint(1024, 8192) * scale)
    if roll < 0.99:
        return int(rng.randint(16 << 10, 256 << 10) * scale)
    return int(rng.randint(2 << 20, 6 << 20) * scale)


def record_text(rng, size, kind, number):
    """A text record (XML or INI-like) of exactly size bytes once UTF-8 encoded."""
    who = "%s %s" % (rng.choice(FIRST), rng.choice(SURNAMES))
    if kind == "xml":
        head = ('<?xml version="1.0" encoding="UTF-8"?>\n<record id="%d" cliente="%s" citta="%s">\n'
                % (number, who, rng.choice(TOWNS)))
        tail = "</record>\n"
        line = ('  <misura n="%d" veicolo="%s" targa="%s%03d%s" valore="%.3f" unita="%s">%s</misura>\n')
    else:
        head = "[Registro %d]\nCliente=%s\nCitta=%s\n" % (number, who, rng.choice(TOWNS))
        tail = ""
        line = "Misura%d=%s;%s%03d%s;%.3f;%s;%s\n"
    parts = [head]
    length = len(head.encode()) + len(tail.encode())
    n = 0
    while length < size:
        n += 1
        piece = line % (n, rng.choice(MAKES), "AB", rng.randint(0, 999), "CD", rng.random() * 100,
                        rng.choice(["ppm", "%", "m-1", "bar", "rpm"]), rng.choice(["ok", "ko", "n/d"]))
        parts.append(piece)
        length += len(piece.encode())
    data = ("".join(parts) + tail).encode()
    if len(data) > size:
        data = data[:max(0, size - len(tail.encode()))] + tail.encode()
    return data[:size] if len(data) > size else data


class Writer:
    def __init__(self, seed):
        self.seed = seed
        self.pool = Pool(seed)
        self.files = 0
        self.bytes = 0

    def file(self, path, size, rng, kind="bin"):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if kind in ("xml", "ini", "txt") and size <= (256 << 10):
            with open(path, "wb") as out:
                out.write(record_text(rng, size, kind, self.files))
        else:
            self.pool.write(path, size, rng.randrange(POOL_BYTES))
        self.files += 1
        self.bytes += size

    def text(self, path, data):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        raw = data.encode()
        with open(path, "wb") as out:
            out.write(raw)
        self.files += 1
        self.bytes += len(raw)


# Share of the data folder's files by place, and how each place names and nests its files. A
# "{y}" is a year folder, "{m}" a month folder, "{c}" a client folder.
DATA_AREAS = [
    # (share, folder pattern, file name pattern, kind)
    (0.06, "kormo", "Registro {n:05d}.dat", "bin"),
    (0.19, "kormo/Exchange - In/{y}/{m}", "Ordine {n:05d}.xml", "xml"),
    (0.14, "kormo/Exchange - Out/{y}/{m}", "Fattura {n:05d}.xml", "xml"),
    (0.25, "clientmanager/archivio/{y}/{c}", "Scheda {n:05d}.xml", "xml"),
    (0.10, "oscillo/sessioni/{y}/Sessione {s:03d}", "Traccia {n:05d}.osc", "bin"),
    (0.10, "diesel/Archivio/{y}/{m}", "Prova {n:05d}.opa", "bin"),
    (0.08, "gas/Archivio/{y}/{m}", "Prova {n:05d}.gas", "bin"),
    (0.08, "stampe/{y}/{m}", "Rapporto {n:05d}.pdf", "bin"),
]

FUMI_MATCHING = [("crk", 0.10), ("ini", 0.10), ("txt", 0.10), ("xml", 0.20), ("opa", 0.38)]
GAS_MATCHING = [("crk", 0.10), ("ini", 0.10), ("txt", 0.10), ("xml", 0.20), ("gas", 0.38)]
# The rest of a module folder: other extensions, and a subfolder the walk does not enter.
MODULE_OTHERS = ["dat", "bak", "log"]


def module_folder(writer, rng, folder, count, matching, base_name):
    for n in range(count):
        roll = rng.random()
        extension = None
        for ext, share in matching:
            if roll < share:
                extension = ext
                break
            roll -= share
        if extension is None:
            if rng.random() < 0.5:
                extension = rng.choice(MODULE_OTHERS)
                path = os.path.join(folder, "%s %04d.%s" % (base_name, n, extension))
            else:
                path = os.path.join(folder, "storico", "%s %04d.xml" % (base_name, n))
                extension = "xml"
        else:
            # Letter case of the extension varies, as on the machines the files come from.
            shown = extension.upper() if n % 17 == 0 else extension
            path = os.path.join(folder, "%s %04d.%s" % (base_name, n, shown))
        kind = extension if extension in ("xml", "ini", "txt") else "bin"
        writer.file(path, rng.randint(512, 24 << 10), rng, kind)


def installation(files, out, seed):
    manifest_path = os.path.join(out, "manifest.json")
    wanted = {"version": GENERATOR_VERSION, "files": files, "seed": seed}
    if os.path.exists(manifest_path):
        with open(manifest_path) as handle:
            found = json.load(handle)
        if all(found.get(key) == value for key, value in wanted.items()):
            return found
    if os.path.exists(out):
        shutil.rmtree(out)
    writer = Writer(seed)
    suite = os.path.join(out, "suite")
    modules = os.path.join(out, "modules")
    data = os.path.join(out, "data")

    writer.text(os.path.join(suite, "Common", "CommonConfig.xml"), common_config(seed, 64 << 10, "saved"))
    writer.text(os.path.join(modules, "eobd", "eobd.ini"), settings_ini(rng_for(seed, "eobd"), 4 << 10))
    writer.text(os.path.join(modules, "oscillo", "oscillo.ini"), settings_ini(rng_for(seed, "osc"), 6 << 10))
    writer.text(os.path.join(modules, "Utility", "Dorvel.ini"), settings_ini(rng_for(seed, "dorvel"), 2 << 10))
    writer.text(os.path.join(modules, "wizard", "ConfigurationWizard.xml"),
                common_config(seed + 1, 24 << 10, "saved"))

    fumi_count = max(20, files * 2 // 100)
    gas_count = max(15, files * 15 // 1000)
    module_folder(writer, rng_for(seed, "fumi"), os.path.join(modules, "fumi"), fumi_count,
                  FUMI_MATCHING, "Prova fumi")
    module_folder(writer, rng_for(seed, "gas"), os.path.join(modules, "gas"), gas_count,
                  GAS_MATCHING, "Analisi gas")

    data_files = files - writer.files
    rng = rng_for(seed, "data")
    for index, (share, folder_pattern, name_pattern, kind) in enumerate(DATA_AREAS):
        count = int(round(data_files * share)) if index < len(DATA_AREAS) - 1 else files - writer.files
        per_folder = 40
        for n in range(count):
            group = n // per_folder
            folder = folder_pattern.format(y=2015 + group % 10, m="%02d" % (1 + (group // 10) % 12),
                                           c="%s %s %d" % (SURNAMES[group % len(SURNAMES)],
                                                           FIRST[group % len(FIRST)], group),
                                           s=group)
            name = name_pattern.format(n=n)
            writer.file(os.path.join(data, folder, name), pick_size(rng), rng, kind)
    # Folders that exist without files come back as well (with /e).
    for empty in ("clientmanager/Esportazioni", "kormo/Exchange - In/Scartati", "oscillo/sonde"):
        os.makedirs(os.path.join(data, empty), exist_ok=True)

    found = dict(wanted, total_files=writer.files, total_bytes=writer.bytes,
                 fumi_files=fumi_count, gas_files=gas_count)
    with open(manifest_path, "w") as handle:
        json.dump(found, handle)
    return found


def fresh(out, seed):
    if os.path.exists(out):
        shutil.rmtree(out)
    writer = Writer(seed)
    config = os.path.join(out, "config")
    writer.text(os.path.join(config, "CommonConfig.xml"), common_config(seed + 7, 16 << 10, "live"))
    writer.text(os.path.join(config, "ConfigurationWizard.xml"), common_config(seed + 8, 8 << 10, "live"))
    writer.text(os.path.join(config, "oscillo.ini"), settings_ini(rng_for(seed, "fresh-osc"), 3 << 10))
    writer.text(os.path.join(config, "eobd", "eobd.ini"), settings_ini(rng_for(seed, "fresh-eobd"), 2 << 10))
    writer.text(os.path.join(config, "diesel", "fumi.ini"), settings_ini(rng_for(seed, "fresh-fumi"), 2 << 10))
    writer.text(os.path.join(config, "gas", "gas.ini"), settings_ini(rng_for(seed, "fresh-gas"), 2 << 10))
    writer.text(os.path.join(out, "common", "CommonConfig.xml"), common_config(seed + 9, 16 << 10, "live"))
    os.makedirs(os.path.join(out, "data"), exist_ok=True)


def settings_ini(rng, size):
    lines = ["; Impostazioni del modulo", ""]
    length = 0
    section = 0
    while length < size:
        section += 1
        lines.append("[Sezione%d]" % section)
        for key in range(rng.randint(4, 12)):
            lines.append("Chiave%d = %s" % (key, rng.choice(["1", "0", "COM3", "19200", rng.choice(TOWNS)])))
        lines.append("")
        length = sum(len(line) + 1 for line in lines)
    return "\n".join(lines) + "\n"


def escape(text):
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;").replace('"', "&quot;")


def common_config(seed, size, variant):
    """A settings document of about size bytes with the merged elements near its top."""
    rng = rng_for(seed, "config", variant)
    saved = variant == "saved"
    who = "%s %s" % (rng.choice(FIRST), rng.choice(SURNAMES))
    head = [
        '<?xml version="1.0" encoding="UTF-8"?>',
        "<!-- Configurazione comune della suite diagnostica -->",
        '<CommonConfig version="%s">' % ("3.2.1" if saved else "4.0.0"),
        '\t<brand name="%s"/>' % ("Lumen Diagnostica Pro" if saved else "Lumen"),
        '\t<platform name="%s"/>' % ("Banco Prova BP-200" if saved else "PC"),
        "\t<titolo-language>%s</titolo-language>" % ("Lingua di lavoro" if saved else "Language"),
        '\t<language name="%s" ISOname="%s" code="%s" lang="%s" subl="%s" img="%s"/>'
        % (("Italiano", "it-IT", "1040", "16", "1", "flag_it.bmp") if saved
           else ("English", "en-GB", "2057", "9", "2", "flag_gb.bmp")),
        "\t<titolo-customerInfo>%s</titolo-customerInfo>"
        % ("Dati dell'officina" if saved else "Workshop details"),
    ]
    fields = [("ragioneSociale", "Autofficina %s &amp; Figli S.n.c." % escape(who)),
              ("indirizzo", "Via Emilia per %s" % rng.choice(TOWNS)), ("civico", "%d/B" % rng.randint(1, 300)),
              ("cap", "%05d" % rng.randint(10000, 99999)), ("citta", rng.choice(TOWNS)), ("provincia", "FC")]
    customer = ["\t<customerInfo>"]
    for name, value in fields:
        customer.append("\t\t<%s>%s</%s>" % (name, value if saved else "", name))
    customer.append('\t\t<stato code="%s">%s</stato>' % (("IT", "Italia") if saved else ("", "")))
    for name, value in [("telefono", "0543 721 904"), ("cellulare", "347 551 2093"), ("fax", "0543 721 905"),
                        ("email", "officina@example.it")]:
        customer.append("\t\t<%s>%s</%s>" % (name, value if saved else "", name))
    customer.append("\t</customerInfo>")

    # Bulk: module settings, vehicle tables and a log of calibrations, as a suite accumulates them.
    bulk = []  # blocks of lines
    length = sum(len(line.encode()) + 1 for line in head + customer) + 20
    block = 0
    while length < size:
        block += 1
        lines = []
        roll = rng.random()
        if roll < 0.4:
            lines.append('\t<module id="%d" name="Modulo %d" enabled="%s">' % (block, block, rng.choice(["true", "false"])))
            for key in range(rng.randint(3, 10)):
                lines.append('\t\t<param key="p%d" value="%s" unit="%s"/>'
                             % (key, rng.randint(0, 99999), rng.choice(["bar", "rpm", "ppm", "%"])))
            lines.append("\t\t<note>%s</note>" % escape("Tarato da %s a %s" % (rng.choice(SURNAMES), rng.choice(TOWNS))))
            lines.append("\t</module>")
        elif roll < 0.75:
            lines.append('\t<vehicle make="%s" model="M%d" year="%d">' % (rng.choice(MAKES), block, rng.randint(1990, 2024)))
            lines.append("\t\t<engine code=\"E%05d\" fuel=\"%s\">%d</engine>"
                         % (rng.randint(0, 99999), rng.choice(["diesel", "benzina", "gpl"]), rng.randint(900, 4000)))
            lines.append("\t\t<limits co=\"%.2f\" hc=\"%d\" k=\"%.2f\"/>" % (rng.random() * 4, rng.randint(50, 900), rng.random() * 3))
            lines.append("\t</vehicle>")
        elif roll < 0.9:
            lines.append("\t<!-- calibrazione %d: %s -->" % (block, rng.choice(TOWNS)))
            lines.append('\t<calibration n="%d" date="20%02d-%02d-%02d" ok="%s"/>'
                         % (block, rng.randint(10, 24), rng.randint(1, 12), rng.randint(1, 28), rng.choice(["1", "0"])))
        else:
            lines.append("\t<history>")
            for entry in range(rng.randint(2, 6)):
                lines.append("\t\t<entry at=\"%d\">%s &lt;%d&gt;</entry>" % (entry, escape(rng.choice(SURNAMES)), rng.randint(0, 999)))
            lines.append("\t</history>")
        bulk.append(lines)
        length += sum(len(line.encode()) + 1 for line in lines)
    # One third of the bulk between language and titolo-customerInfo, the rest after customerInfo,
    # so the searches for the later elements walk past many siblings.
    cut = len(bulk) // 3
    before = [line for lines in bulk[:cut] for line in lines]
    after = [line for lines in bulk[cut:] for line in lines]
    body = head[:7] + before + head[7:] + customer + after + ["</CommonConfig>"]
    return "\n".join(body) + "\n"


# Shape name: (which file is large, what it is, what one unit of it is).
SHAPES = {
    "settings": ("live", "the settings-like file of gen.py config", ""),
    "text-saved": ("saved", "one text value of M MB in the saved ragioneSociale", ""),
    "text-live": ("live", "one text value of M MB in the live ragioneSociale", ""),
    "elements": ("live", "small elements, one per line", "<v k=\"12345\">6</v>, 19 bytes"),
    "attributes": ("live", "attributes on the live language element, before the merged ones", "a12345=\"67\", 12 bytes"),
    "nesting": ("live", "one chain of nested elements after customerInfo", "<gruppo> and </gruppo>, 17 bytes a level"),
    "names": ("live", "elements with 256 K-character names and attributes, before titolo-language", ""),
}
LONG_NAME = 256 << 10


def huge_value(rng, size):
    """Text of about size bytes once encoded: words, accented letters and an entity now and then."""
    words = ["Autofficina", "Forlì", "&amp;", "Città", "Nürnberg", "&lt;nota&gt;", "bar", "rpm", "Müller"]
    piece = " ".join(rng.choice(words) for _ in range(4096)) + " "
    raw = len(piece.encode())
    return piece * (size // raw) + piece[: (size % raw) // 2]


def shape_files(shape, size, seed):
    """The saved and live texts of one shape, the large one about size bytes."""
    saved = common_config(seed, 64 << 10, "saved")
    live = common_config(seed + 7, 64 << 10, "live")
    rng = rng_for(seed, "shape", shape)
    if shape == "settings":
        return saved, common_config(seed + 7, size, "live")
    if shape in ("text-saved", "text-live"):
        value = huge_value(rng, size)
        if shape == "text-saved":
            saved = saved.replace("<ragioneSociale>", "<ragioneSociale>" + value, 1)
        else:
            live = live.replace("<ragioneSociale></ragioneSociale>", "<ragioneSociale>%s</ragioneSociale>" % value, 1)
        return saved, live
    if shape == "elements":
        count = size // 19
        bulk = "".join('<v k="%05d">%d</v>\n' % (n % 100000, n % 10) for n in range(count))
        return saved, live.replace("</CommonConfig>", bulk + "</CommonConfig>")
    if shape == "attributes":
        count = size // 12
        bulk = "".join(' a%05d="%02d"' % (n % 100000, n % 100) for n in range(count))
        return saved, live.replace("<language ", "<language" + bulk + " ", 1)
    if shape == "nesting":
        levels = size // 17
        chain = "<gruppo>" * levels + "</gruppo>" * levels + "\n"
        return saved, live.replace("</CommonConfig>", chain + "</CommonConfig>")
    if shape == "names":
        count = max(1, size // (3 * LONG_NAME))
        bulk = []
        for n in range(count):
            name = "impostazione%d_" % n + "x" * LONG_NAME
            bulk.append('\t<%s %s="1">%d</%s>\n' % (name, "attributo_" + "y" * LONG_NAME, n, name))
        return saved, live.replace("\t<titolo-language>", "".join(bulk) + "\t<titolo-language>", 1)
    raise SystemExit("unknown shape: %s" % shape)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="what", required=True)
    one = sub.add_parser("installation")
    one.add_argument("--files", type=int, required=True)
    one.add_argument("--out", required=True)
    one.add_argument("--seed", type=int, default=2026)
    two = sub.add_parser("fresh")
    two.add_argument("--out", required=True)
    two.add_argument("--seed", type=int, default=2026)
    three = sub.add_parser("config")
    three.add_argument("--size-mb", type=float, required=True)
    three.add_argument("--variant", choices=["saved", "live"], required=True)
    three.add_argument("--out", required=True)
    three.add_argument("--seed", type=int, default=2026)
    four = sub.add_parser("shape")
    four.add_argument("--shape", choices=sorted(SHAPES), required=True)
    four.add_argument("--size-mb", type=float, required=True)
    four.add_argument("--saved", required=True)
    four.add_argument("--live", required=True)
    four.add_argument("--seed", type=int, default=2026)
    args = parser.parse_args()
    if args.what == "shape":
        saved, live = shape_files(args.shape, int(args.size_mb * (1 << 20)), args.seed)
        for path, text in ((args.saved, saved), (args.live, live)):
            os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
            with open(path, "wb") as handle:
                handle.write(text.encode())
        return 0
    if args.what == "installation":
        print(json.dumps(installation(args.files, args.out, args.seed)))
    elif args.what == "fresh":
        fresh(args.out, args.seed)
    else:
        os.makedirs(os.path.dirname(os.path.abspath(args.out)), exist_ok=True)
        with open(args.out, "wb") as handle:
            handle.write(common_config(args.seed, int(args.size_mb * (1 << 20)), args.variant).encode())
    return 0


if __name__ == "__main__":
    sys.exit(main())
