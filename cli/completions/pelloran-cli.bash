# bash completion for pelloran-cli
_pelloran_cli() {
    local cur prev
    cur="${COMP_WORDS[COMP_CWORD]}"
    prev="${COMP_WORDS[COMP_CWORD-1]}"
    case "$prev" in
        -f|--format) COMPREPLY=($(compgen -W "mp3 wav wma ogg aac m4a mp4 m4b amr awb flac opus alac" -- "$cur")); return ;;
        --decoder) COMPREPLY=($(compgen -W "bass wav aiff au ffmpeg vorbis wma" -- "$cur")); return ;;
        --channels) COMPREPLY=($(compgen -W "1 2" -- "$cur")); return ;;
        -o|--output-dir) COMPREPLY=($(compgen -d -- "$cur")); return ;;
        --settings|--files-from) COMPREPLY=($(compgen -f -- "$cur")); return ;;
        -s|--set)
            COMPREPLY=($(compgen -W "$(pelloran-cli --list-settings 2>/dev/null | cut -f1 | sed 's/$/=/')" -- "$cur"))
            compopt -o nospace 2>/dev/null
            return ;;
        --tag)
            COMPREPLY=($(compgen -W "title= artist= album= year= genre= comment= track= composer= copyright=" -- "$cur"))
            compopt -o nospace 2>/dev/null
            return ;;
        -b|--bitrate|--rate|--quality|-j|--jobs|--name|--shard) return ;;
    esac
    if [[ "$cur" == -* ]]; then
        COMPREPLY=($(compgen -W "-f --format -o --output-dir -b --bitrate --rate --channels --quality --tag -s --set
            -y --overwrite -n --no-overwrite --keep-tree --name --all-files --dry-run --verify --files-from -0 --null --shard
            --settings --decoder -j --jobs --list-settings --probe --json -q --quiet -h --help --version" -- "$cur"))
        return
    fi
    COMPREPLY=($(compgen -f -- "$cur"))
}
complete -o filenames -F _pelloran_cli pelloran-cli
