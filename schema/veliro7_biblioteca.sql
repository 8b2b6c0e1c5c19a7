-- The library's own tables: catalogue, collection, loans and the other modules' schemas, as the kit's
-- restore, database reset, collection transfer and libraries editor find them on a real server.
-- Load right after veliro7_base.sql, on the same empty database.
CREATE SCHEMA IF NOT EXISTS adquis;
CREATE SCHEMA IF NOT EXISTS analisis;
CREATE SCHEMA IF NOT EXISTS consultas_biblioteca;
CREATE SCHEMA IF NOT EXISTS indizados;
CREATE SCHEMA IF NOT EXISTS inventarios;
CREATE SCHEMA IF NOT EXISTS metadata;
CREATE SCHEMA IF NOT EXISTS retroalimentacion;
CREATE SCHEMA IF NOT EXISTS servicios;
CREATE SCHEMA IF NOT EXISTS funciones;

-- Catalogues ---------------------------------------------------------------------------------------

-- The libraries editor builds one edit field per column and its update names the second to sixth
-- columns by position, so the column order is fixed.
CREATE TABLE catalogos.bibliotecas (
    idbiblioteca integer NOT NULL PRIMARY KEY,
    nombre character varying(60) NOT NULL,
    nombrecorto character varying(20),
    director character varying(60),
    telefono character varying(20),
    correo character varying(60)
);

CREATE TABLE catalogos.escuelas (
    idescuela serial PRIMARY KEY,
    nombre character varying(60),
    nombrecorto character varying(20),
    idbiblioteca integer REFERENCES catalogos.bibliotecas (idbiblioteca)
);

CREATE TABLE catalogos.colecciones (
    idcoleccion serial PRIMARY KEY,
    nombre character varying(60)
);

CREATE TABLE catalogos.autoridades (
    idautoridad serial PRIMARY KEY,
    autoridad text
);

CREATE TABLE catalogos.referencias (
    idreferencia serial PRIMARY KEY,
    referencia text
);

-- Items waiting to be processed; estado is an integer kept as text.
CREATE TABLE catalogos.mat_especial (
    idmatespecial serial PRIMARY KEY,
    no_adq character varying(15),
    titulo text,
    autor text,
    clasificacion text,
    estado character varying(5),
    f_captura date,
    analista_capturo text,
    biblioteca integer,
    tipo_material integer,
    f_fin date,
    analista_fin text
);

-- Collection ---------------------------------------------------------------------------------------
-- A collection import empties these tables and copies the staged rows back as they come: an analytic
-- record can arrive twice, and items parked under the unprocessed-items record share one id until
-- they are renumbered from the sequence. So their ids are serial but not unique keys.

-- tipoficha: 'L' book, 'R' journal, 'A' analytic (hangs from a holding).
CREATE TABLE analisis.fichas (
    idficha serial NOT NULL,
    ficha_no integer,
    idbiblioteca integer,
    idtipomaterial integer,
    tipoficha character(1),
    estatus character(3),
    idholding integer,
    titulo text,
    autor text,
    clasificacion text,
    editorial text,
    isbn text,
    fechacaptura timestamp,
    registroactivo boolean DEFAULT true
);

CREATE TABLE analisis.holdings (
    idholding serial NOT NULL,
    idficha integer,
    registroactivo boolean DEFAULT true
);

CREATE TABLE analisis.ejemplares (
    idejemplar serial NOT NULL,
    idficha integer,
    ficha_no integer,
    no_adqui character varying(15),
    idbiblioteca integer,
    idescuela integer,
    idcoleccion integer,
    idholding integer,
    fechaingreso timestamp,
    volumen smallint,
    ejemplar integer,
    tomo smallint,
    accesible smallint,
    esmatcomp boolean NOT NULL DEFAULT false,
    analista text,
    registroactivo boolean DEFAULT true
);

-- One row per subfield. The authority link columns and the full-text columns are added later by
-- the kit itself.
CREATE TABLE analisis.etiquetasmarc (
    idregistro serial NOT NULL,
    idficha integer,
    numetiqueta integer,
    subcampo character(1),
    jerarquia integer,
    posicion integer,
    contenido text,
    registroactivo boolean DEFAULT true
);

CREATE TABLE analisis.enviosdpi (
    idenviodpi serial PRIMARY KEY,
    fechaenvio timestamp
);

CREATE TABLE analisis.recepcionesdpi (
    idrecepciondpi serial PRIMARY KEY,
    fecharecepcion timestamp
);

-- Distribution of an item to its library: sent, received centrally, received by the library.
CREATE TABLE analisis.ejemplaresdetallesdpi (
    iddetalledpi serial NOT NULL,
    idficha integer,
    numadqui character varying(15),
    idbiblioteca integer,
    idescuela integer,
    idenviodpi integer,
    idrecepciondpi integer,
    idrecepcionbib integer,
    fecharecepcionbib timestamp,
    -- Staff login the item is assigned to; the record's registration (null while pending).
    idanalistaasignado text,
    idanalistaregistroenfichadpi integer
);

-- Rows are inserted by position with nextval('analisis.productividad_id_seq').
CREATE TABLE analisis.productividad (
    id serial PRIMARY KEY,
    usuario text,
    fecha timestamp,
    accion character varying(5),
    descripcion text,
    ficha_no integer,
    idbiblioteca integer,
    no_adqui character varying(15),
    idficha integer,
    tabla text,
    tipo character(1),
    idmodulo integer
);

CREATE TABLE indizados.palabras (
    idpalabra serial NOT NULL,
    idficha integer,
    idbiblioteca integer,
    palabra text
);

-- Loans and reservations ---------------------------------------------------------------------------

CREATE TABLE prestamo.prestamos (
    idprestamo serial PRIMARY KEY,
    no_adqui character varying(15),
    titulo text,
    autor text,
    clasificacion text,
    idbiblioteca integer
);

CREATE TABLE prestamo.reservaciones (
    idreservacion serial PRIMARY KEY,
    no_adqui character varying(15),
    titulo text,
    autor text,
    clasificacion text,
    idbiblioteca integer
);

-- The other modules ---------------------------------------------------------------------------------

CREATE TABLE adquis.pedidos (
    idpedido serial PRIMARY KEY,
    titulo text
);

CREATE TABLE consultas_biblioteca.consultas (
    idconsulta serial PRIMARY KEY,
    fecha timestamp
);

CREATE TABLE inventarios.inventarios (
    idinventario serial PRIMARY KEY,
    no_adqui character varying(15)
);

CREATE TABLE retroalimentacion.comentarios (
    idcomentario serial PRIMARY KEY,
    comentario text
);

CREATE TABLE servicios.equipos (
    idequipo serial PRIMARY KEY,
    nombre text
);

CREATE TABLE config_veliro.respaldos (
    idrespaldo serial PRIMARY KEY,
    fecha timestamp,
    archivo text
);

CREATE TABLE public.bitacora (
    idbitacora serial PRIMARY KEY,
    fecha timestamp DEFAULT now(),
    descripcion text
);

-- metadata and funciones hold no table, so a listing of tables does not show them.
CREATE SEQUENCE metadata.folio_seq;

CREATE FUNCTION funciones.fechatexto(timestamp) RETURNS text
    LANGUAGE sql IMMUTABLE AS $$ SELECT to_char($1, 'YYYY-MM-DD HH24:MI:SS') $$;

-- Server functions ---------------------------------------------------------------------------------
-- A tag content links to a catalogue row with a reference "@@" + table code + id + "!", for example
-- "@@AU17!"; the codes are AU (catalogos.autoridades) and RE (catalogos.referencias).

CREATE FUNCTION analisis.gettableautoridad(text) RETURNS text
    LANGUAGE sql IMMUTABLE AS $$ SELECT upper(substring($1 FROM '@@([A-Za-z]{2})[0-9]+!')) $$;

CREATE FUNCTION analisis.getidautoridad(text) RETURNS text
    LANGUAGE sql IMMUTABLE AS $$ SELECT substring($1 FROM '@@[A-Za-z]{2}([0-9]+)!') $$;

-- The catalogue text of a reference: $1 link id, $2 table code, $3 the reference as written. A tag
-- not linked yet is resolved from the reference itself; a reference to no row comes back as written,
-- never NULL, so the text around it is not lost.
CREATE FUNCTION analisis.catalogos2(bigint, text, text) RETURNS text
    LANGUAGE sql STABLE AS $$
    SELECT coalesce(
        CASE coalesce(upper(btrim($2)), analisis.gettableautoridad($3))
            WHEN 'AU' THEN (SELECT a.autoridad FROM catalogos.autoridades a
                            WHERE a.idautoridad = coalesce($1, analisis.getidautoridad($3)::bigint))
            WHEN 'RE' THEN (SELECT r.referencia FROM catalogos.referencias r
                            WHERE r.idreferencia = coalesce($1, analisis.getidautoridad($3)::bigint))
        END,
        $3)
$$;

CREATE FUNCTION analisis.sinacentos(text) RETURNS text
    LANGUAGE sql IMMUTABLE AS $$
    SELECT translate($1, E'\u00e1\u00e9\u00ed\u00f3\u00fa\u00c1\u00c9\u00cd\u00d3\u00da\u00fc\u00dc',
                     'aeiouAEIOUuU')
$$;
