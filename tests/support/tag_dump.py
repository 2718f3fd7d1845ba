#!/usr/bin/python3
"""Prints a file's tags as mutagen reads them, by property name, as JSON: {"fields": {NAME: value}, "pictures":
[{"type", "mime", "description", "size", "sha1"}]}. The oracle of the tag round trips."""
import hashlib
import json
import sys

import mutagen
from mutagen.asf import ASF
from mutagen.flac import FLAC, Picture
from mutagen.id3 import ID3, ID3FileType
from mutagen.mp4 import MP4

ID3_NAMES = {"TIT2": "TITLE", "TPE1": "ARTIST", "TALB": "ALBUM", "TDRC": "DATE", "TCON": "GENRE",
             "TCOM": "COMPOSER", "TCOP": "COPYRIGHT", "TPE2": "ALBUMARTIST", "TBPM": "BPM", "TSRC": "ISRC",
             "TCMP": "COMPILATION"}
MP4_NAMES = {"\xa9nam": "TITLE", "\xa9ART": "ARTIST", "\xa9alb": "ALBUM", "\xa9day": "DATE", "\xa9gen": "GENRE",
             "\xa9cmt": "COMMENT", "\xa9wrt": "COMPOSER", "cprt": "COPYRIGHT", "aART": "ALBUMARTIST",
             "\xa9lyr": "LYRICS", "tmpo": "BPM", "cpil": "COMPILATION"}
ASF_NAMES = {"Title": "TITLE", "Author": "ARTIST", "WM/AlbumTitle": "ALBUM", "WM/Year": "DATE", "WM/Genre": "GENRE",
             "Description": "COMMENT", "WM/TrackNumber": "TRACKNUMBER", "WM/Composer": "COMPOSER",
             "Copyright": "COPYRIGHT", "WM/AlbumArtist": "ALBUMARTIST", "WM/PartOfSet": "DISCNUMBER",
             "WM/BeatsPerMinute": "BPM", "WM/ISRC": "ISRC", "WM/Lyrics": "LYRICS", "WM/Mood": "MOOD",
             "MusicBrainz/Track Id": "MUSICBRAINZ_TRACKID", "TotalTracks": "TRACKTOTAL", "TotalDiscs": "DISCTOTAL"}
FREEFORM_NAMES = {"MusicBrainz Track Id": "MUSICBRAINZ_TRACKID"}


def picture(kind, mime, description, data):
    return {"type": kind, "mime": mime, "description": description, "size": len(data),
            "sha1": hashlib.sha1(data).hexdigest()}


def number_pair(fields, name, total_name, text):
    number, _, total = str(text).partition("/")
    fields[name] = number
    if total:
        fields[total_name] = total


def dump(path):
    f = mutagen.File(path)
    fields, pictures = {}, []
    if f is None or f.tags is None:
        return {"fields": fields, "pictures": pictures}
    if isinstance(f, ID3FileType) or isinstance(f.tags, ID3):  # MP3, and the id3 chunk of WAV and AIFF
        for key, frame in f.tags.items():
            fid = key[:4]
            if fid in ID3_NAMES:
                fields[ID3_NAMES[fid]] = str(frame.text[0])
            elif fid == "TRCK":
                number_pair(fields, "TRACKNUMBER", "TRACKTOTAL", frame.text[0])
            elif fid == "TPOS":
                number_pair(fields, "DISCNUMBER", "DISCTOTAL", frame.text[0])
            elif fid == "COMM" and frame.desc == "":
                fields["COMMENT"] = str(frame.text[0]) if frame.text else ""
            elif fid == "USLT":
                fields["LYRICS"] = frame.text
            elif fid == "TXXX":
                fields[frame.desc.upper()] = str(frame.text[0])
            elif fid == "UFID" and frame.owner == "http://musicbrainz.org":
                fields["MUSICBRAINZ_TRACKID"] = frame.data.decode()
            elif fid == "APIC":
                pictures.append(picture(int(frame.type), frame.mime, frame.desc, frame.data))
    elif isinstance(f, MP4):
        for key, values in f.tags.items():
            if key in MP4_NAMES:
                value = values[0] if isinstance(values, list) else values
                fields[MP4_NAMES[key]] = str(int(value)) if isinstance(value, bool) else str(value)
            elif key in ("trkn", "disk"):
                number, total = values[0]
                prefix = "TRACK" if key == "trkn" else "DISC"
                fields[prefix + ("NUMBER" if key == "trkn" else "NUMBER")] = str(number)
                if total:
                    fields[prefix + "TOTAL"] = str(total)
            elif key.startswith("----:com.apple.iTunes:"):
                name = key.split(":", 2)[2]
                fields[FREEFORM_NAMES.get(name, name.upper())] = bytes(values[0]).decode()
            elif key == "covr":
                for art in values:
                    pictures.append(picture(3, "", "", bytes(art)))
    elif isinstance(f, ASF):
        for key, values in f.tags.items():
            if key == "WM/Picture":
                for value in values:
                    data = value.value
                    kind = data[0]
                    size = int.from_bytes(data[1:5], "little")
                    rest = data[5:].decode("utf-16-le", "replace")
                    mime, _, rest = rest.partition("\x00")
                    description, _, _ = rest.partition("\x00")
                    pictures.append(picture(kind, mime, description, data[len(data) - size:]))
            elif key == "WM/IsCompilation":
                fields["COMPILATION"] = "1" if values[0].value else "0"
            elif key == "WM/PartOfSet":
                number_pair(fields, "DISCNUMBER", "DISCTOTAL", values[0].value)
            elif key == "WM/TrackNumber":
                fields["TRACKNUMBER"] = str(values[0].value)
            elif key in ASF_NAMES:
                fields[ASF_NAMES[key]] = str(values[0].value)
            elif "/" not in key and key not in ("Rating",):
                fields[key.upper()] = str(values[0].value)
    else:  # Vorbis comments: Ogg Vorbis, Opus, FLAC
        for key, values in f.tags.items():
            if key.upper() == "METADATA_BLOCK_PICTURE":
                import base64
                for value in values:
                    p = Picture(base64.b64decode(value))
                    pictures.append(picture(p.type, p.mime, p.desc, p.data))
            else:
                fields[key.upper()] = values[0]
        if isinstance(f, FLAC):
            for p in f.pictures:
                pictures.append(picture(p.type, p.mime, p.desc, p.data))
    fields = {k: v for k, v in fields.items() if v != ""}
    return {"fields": fields, "pictures": pictures}


if __name__ == "__main__":
    json.dump(dump(sys.argv[1]), sys.stdout, ensure_ascii=False)
