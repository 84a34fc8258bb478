# bash completion for tessary-batch
_tessary_batch() {
    local cur prev
    cur="${COMP_WORDS[COMP_CWORD]}"
    prev="${COMP_WORDS[COMP_CWORD-1]}"
    case "$prev" in
        -o|--output)
            COMPREPLY=($(compgen -d -- "$cur"))
            return ;;
        --report)
            COMPREPLY=($(compgen -f -X '!*.@(jsonl|json|csv)' -- "$cur") $(compgen -d -- "$cur"))
            return ;;
        --files-from)
            COMPREPLY=($(compgen -f -- "$cur"))
            return ;;
        -c|--clip)
            COMPREPLY=($(compgen -W "auto" -- "$cur"))
            return ;;
        --field)
            COMPREPLY=($(compgen -W "top bottom" -- "$cur"))
            return ;;
        -f|--format)
            COMPREPLY=($(compgen -W "jpeg bmp png" -- "$cur"))
            return ;;
        --subsampling)
            COMPREPLY=($(compgen -W "420 444" -- "$cur"))
            return ;;
        -j|--jobs|--quality)
            return ;;
    esac
    # bash splits "--deinterlace=METHOD" at the "=".
    if [[ "$prev" == "=" && "${COMP_WORDS[COMP_CWORD-2]}" == --deinterlace ]]; then
        COMPREPLY=($(compgen -W "average top bottom adaptive" -- "$cur"))
        return
    fi
    if [[ "$cur" == -* ]]; then
        COMPREPLY=($(compgen -W "-o --output --overwrite-inputs -u --update -n --dry-run
            --report -d --deinterlace -c --clip -s --soften -r --recursive --files-from
            -0 --null -j --jobs -q --quiet -f --format --quality --subsampling --strip
            -h --help --version --field --only-combed --detect" -- "$cur"))
        return
    fi
    COMPREPLY=($(compgen -f -X '!*.@(jpg|JPG|jpeg|JPEG|gif|GIF|bmp|BMP|png|PNG)' -- "$cur")
               $(compgen -d -- "$cur"))
}
shopt -s extglob
complete -o filenames -F _tessary_batch tessary-batch
