# pelloran-cli for batch jobs (docs/scale-out.md): Debian bookworm-slim and the command-line program's .deb only.
# Make the .deb first (scripts/package puts it in build-package), then: docker build -t pelloran .
# The options come from a file mounted at run time: pelloran-cli --settings /config/pelloran.conf ...
FROM debian:bookworm-slim
COPY build-package/pelloran-cli_*_amd64.deb /tmp/
# apt resolves the .deb's own dependencies (the codec libraries; FFmpeg's are loaded on first use).
RUN apt-get update \
    && apt-get install -y --no-install-recommends /tmp/pelloran-cli_*_amd64.deb \
    && rm -rf /var/lib/apt/lists/* /tmp/pelloran-cli_*_amd64.deb
RUN useradd --create-home --uid 1000 pelloran
USER pelloran
WORKDIR /home/pelloran
ENTRYPOINT ["pelloran-cli"]
CMD ["--help"]
